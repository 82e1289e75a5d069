// The BMP file that a backdrop travels in over the tracker's file service: a 54-byte header and
// 24-bit pixels, rows from the bottom up without padding. Pure.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "backdrop/pixel_pipeline.h"

namespace lvx::backdrop {

constexpr size_t kBmpHeaderSize = 54;

// The file: "BM", the file size, the data offset 54, a 40-byte information header (width,
// height, 1 plane, 24 bits, no compression, the image size), then each row from the bottom,
// each pixel's blue, green and red. Images of other depths are converted by the copy rule first.
// Empty when the file would not fit in 32-bit sizes.
std::vector<uint8_t> encode_bmp(const ImageView &image);

// The name the file is stored under on the tracker: the last part of file_name (the tracker
// keeps uploads in one folder), with the text after its last "." replaced by "bmp", or ".bmp"
// added when it has none.
std::string upload_name(std::string_view file_name);

}  // namespace lvx::backdrop
