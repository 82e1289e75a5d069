// A PNG writer without a library: 8-bit RGB, the image data in stored (uncompressed) deflate
// blocks, with the CRC-32 of each chunk and the Adler-32 of the zlib stream. Files are larger
// than compressed ones and every viewer reads them. Pure, apart from write_png.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lvxsim {

// CRC-32 as PNG chunks use it (reflected polynomial 0xEDB88320, initial and final complement).
uint32_t png_crc32(const uint8_t *data, size_t size, uint32_t crc = 0);
// Adler-32 of a zlib stream (starting at 1).
uint32_t adler32(const uint8_t *data, size_t size, uint32_t adler = 1);

// The PNG file of a width x height image of rgb (3 bytes a pixel, rows from the top, no
// padding). Empty when the sizes do not match the pixels.
std::vector<uint8_t> encode_png(int width, int height, const std::vector<uint8_t> &rgb);

// Writes the PNG file; false (with the reason) when it cannot be written.
bool write_png(const std::string &path, int width, int height, const std::vector<uint8_t> &rgb,
               std::string *error = nullptr);

}  // namespace lvxsim
