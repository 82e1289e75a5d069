// A backdrop sent over the link: the tracker's screen size, the start command and the format the
// tracker answers with, the rectangle cut, scaled and converted by the pixel pipeline, and the
// packets (link_protocol).
#pragma once

#include <cstdint>
#include <optional>

#include "backdrop/pixel_pipeline.h"

namespace lvx::backdrop {

// The tracker's screen size from its "screen_pixel_coords" reply "left,top,right,bottom":
// |left - right| by |top - bottom|, truncated; nothing when the reply is not four numbers.
struct ScreenSize {
  int width = 0;
  int height = 0;
};
std::optional<ScreenSize> parse_screen_size(const char *reply);

// The tracker's answer to "start_bitmap_transfer": six numbers, of which the target size and the
// pixel format count. Nothing unless all six are there, both sizes are non-zero, the format is
// one the pipeline knows (2, 4, 5 or 32) and the sixth number is not negative.
struct TransferAnswer {
  int width = 0;
  int height = 0;
  int levels = 0;
};
std::optional<TransferAnswer> parse_transfer_answer(const char *text);

// The rectangle to send: a width or height of 0 reaches to the image's edge; the rectangle is
// clipped to the image (an origin left of or above it moves to its edge), then to the screen when
// its size is known (width, height not 0), as placed at (xd, yd). Empty (a size below 1) when
// nothing of it is left.
struct SendRect {
  int xs = 0, ys = 0, width = 0, height = 0;
};
SendRect clip_send_rect(int image_width, int image_height, SendRect r, int xd, int yd,
                        ScreenSize screen);

// Whether the tracker's target size can be served: both sizes 1..32767, and the packed image
// numbered within the sequence numbers a resend request can name.
bool target_fits(const TransferAnswer &answer);

// Sends the rectangle (xs, ys, width, height) of image to be shown at (xd, yd); options are the
// transfer options (grey 0x10, coarse dithering 0x08). 0 when the tracker took the whole image,
// -2 otherwise (an empty rectangle, the start refused or answered with an unknown format, a
// target size that cannot be served, or the packets failing). Blocks at least 500 ms (the screen
// request) and ends within 500 ms of the tracker falling silent.
int link_transfer(const ImageView &image, SendRect rect, int xd, int yd, uint16_t options);

}  // namespace lvx::backdrop
