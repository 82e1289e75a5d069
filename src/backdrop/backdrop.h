// The backdrop functions' common entry: saving an image (or a rectangle of it) through an image
// writer, and sending it to the tracker as a file over the file service or over the link.
#pragma once

#include <cstdint>
#include <optional>

#include "backdrop/pixel_pipeline.h"
#include "lumavex_core.h"

namespace lvx::backdrop {

// Save options: draw the saved file instead of sending the image.
constexpr uint16_t kSaveAndDraw = 0x20;
// Transfer options: send as a file where possible; marks a backdrop transfer.
constexpr uint16_t kViaFile = 0x20;
constexpr uint16_t kBackdropTransfer = 0x100;

// The rectangle handed to an image writer: nothing (the whole image) when all four values are 0
// or the rectangle does not lie inside the image (a negative origin, or reaching past its right or
// bottom edge); otherwise a width or height of 0 reaches to the image's edge. A rectangle left
// without pixels that way also means the whole image.
struct Rect {
  int xs = 0, ys = 0, width = 0, height = 0;
};
std::optional<Rect> save_rect(const ImageView &image, Rect r);

// Saves through `writer`: the file name is path/fname when path is not empty (its folders are made
// first: -1 when that fails), else fname; the writer gets the whole image or a copy of the
// rectangle at the image's depth. 0 without options or writer, else the writer's result.
int save_through(lumavex_write_image_hook writer, bitmap_record *image, const ImageView &view,
                 Rect r, const char *fname, const char *path, int options);

// The three backdrop functions: save (sv_options not 0), then send (xfer_options not 0), or save
// and have the tracker draw the file (sv_options with kSaveAndDraw). -1 for an unusable image.
int bitmap_entry(bitmap_record *image, Rect r, const char *fname, const char *path,
                 uint16_t sv_options, int xd, int yd, uint16_t xfer_options);

// "draw_image <fname>" as a command waited 1000 ms: its result, -1 for no name.
int16_t set_backdrop(const char *fname);

}  // namespace lvx::backdrop
