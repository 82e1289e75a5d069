// The pixel pipeline of backdrop images: plain functions over image buffers, without state.
//
// A link transfer cuts the application's rectangle into a 32-bit image (copy_rect), scales it to
// the size the tracker asked for (scale_bilinear), and turns it into the tracker's pixel format:
// grey if asked, the byte range stretched through level tables, Floyd-Steinberg dithering and
// the packing of the format (convert_and_pack, built from the steps below). Every step reads and
// writes only inside the buffers it is given.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "lumavex_core.h"

namespace lvx::backdrop {

// An image the library owns: `height` rows of `pitch` bytes, first row on top.
struct Image {
  int width = 0;
  int height = 0;
  int depth = 32;
  size_t pitch = 0;
  std::vector<uint8_t> pixels;

  uint8_t *row(int y) { return pixels.data() + static_cast<size_t>(y) * pitch; }
  const uint8_t *row(int y) const { return pixels.data() + static_cast<size_t>(y) * pitch; }
};

// An image to read: the application's, or one of ours.
struct ImageView {
  int width = 0;
  int height = 0;
  int depth = 0;
  size_t pitch = 0;
  const uint8_t *pixels = nullptr;

  const uint8_t *row(int y) const { return pixels + static_cast<size_t>(y) * pitch; }
};

// Bytes of one pixel: 4, 3, or 2 for 16- and 15-bit pixels.
int bytes_per_pixel(int depth);

// The view of an application's image, or nothing when it cannot be read safely: no record or
// pixels, a size below 1, a depth other than 32, 24, 16 or 15, or a pitch shorter than a row (a
// pitch of 0 means rows without padding).
std::optional<ImageView> view_of(const bitmap_record *image);
ImageView view_of(const Image &image);

// A zeroed image of w x h pixels, rows without padding; nothing when a size is below 1 or the
// image would not fit in memory sizes.
std::optional<Image> make_image(int width, int height, int depth);

// Copies the rectangle (xs, ys, width, height) of src to the top left of dst, clipped to both
// images. 32-bit to 24-bit drops the fourth byte; 24-bit to 32-bit adds a fourth byte 0; 16-bit
// to 24 or 32 takes red from bits 15-11, green from bits 10-6 and blue from bits 5-1 of the pixel,
// each x 255 / 32; the same depth copies the rectangle's bytes; any other pair (15-bit sources)
// copies each row's bytes unchanged, as many as dst's row holds and src's row has left from xs.
// A converted row covers the rectangle's own width from xs, wherever the rectangle starts (not
// only the pixels left of x = width), and a same-depth row never takes the source's padding.
void copy_rect(const ImageView &src, int xs, int ys, int width, int height, Image &dst);

// Bilinear scaling to width x height at src's depth: each step is (source size - 1) x 65536 /
// target size in 16.16 fixed point, and every byte of a target pixel is blended from the four
// source pixels around its position, first along the row, then between the two rows. Nothing
// when a target size is below 1.
std::optional<Image> scale_bilinear(const Image &src, int width, int height);

// The conversions below work on 32-bit images and leave the last column and the last row to
// finish_edges.

// Grey: the first byte of each pixel becomes (3 x byte0 + 8 x byte1 + 5 x byte2) >> 4, at most 255.
void convert_to_grey(Image &image);

// The smallest and largest byte over all four bytes of every pixel; 0 and 255 for an image
// with no such pixels (one pixel wide or high).
struct ByteRange {
  int smallest = 0;
  int largest = 255;
};
ByteRange byte_range(const Image &image);

// The level tables of a format with `levels` levels per channel (2, 4, 5 or 32): the stretch of
// the byte range with its gamma (1.25 for two levels), each value's level index and the level's
// output value, and the error below which dithering drops an error (coarse: twice a level's
// step; else 6 % of it).
struct LevelTables {
  int levels = 2;
  int threshold = 0;
  std::array<uint8_t, 256> stretch{};
  std::array<uint8_t, 256> level{};
  std::array<uint8_t, 256> output{};
};
LevelTables make_level_tables(ByteRange range, int levels, bool coarse);

// Floyd-Steinberg dithering of the first three bytes of every pixel into level indexes: row by
// row from the top, one pass per byte, 7/16 of an error to the next pixel, 3/16, 5/16 and the
// rest to the three pixels below. One error row serves the three passes in turn and is cleared
// once per image; it has width + 1 entries for whatever width the tracker asks for, rather than a
// fixed 1201 that would end targets at 1200 pixels.
void dither(Image &image, const LevelTables &tables);

// The last column and the last row, which the steps above leave alone, are made grey (when asked)
// and mapped through the same tables without error diffusion, so that formats 5 and 32, which
// send them, send levels that look like their neighbours rather than raw bytes read as levels.
void finish_edges(Image &image, const LevelTables &tables, bool grey);

// The pixel format codes a tracker may ask for, with the data bytes of each packet.
bool known_format(int levels);
size_t packet_payload(int levels);
// The bytes `pack` makes for an image of width x height.
size_t packed_size(int levels, int width, int height);

// Packs the level bytes: 2 and 4 from the top, every row but the last, bit planes of every pixel
// but the last (2: red, green, blue; 4: bit 1 then bit 0 of the first byte), eight pixels to a
// byte from the most significant bit, each plane padded to whole bytes; 5 and 32 from the bottom
// row up, every pixel, as one big-endian bit stream of 7 bits (red x 25 + green x 5 + blue) or 5
// bits (the first byte). Empty for an unknown code.
std::vector<uint8_t> pack(const Image &image, int levels);

// The whole conversion of a scaled 32-bit image for a format: grey when `grey`, range, tables,
// dithering, edges, packing. Changes the image.
std::vector<uint8_t> convert_and_pack(Image &image, int levels, bool grey, bool coarse);

}  // namespace lvx::backdrop
