#include "sim/png_writer.h"

#include <algorithm>
#include <array>
#include <fstream>

namespace lvxsim {

namespace {

constexpr size_t kStoredBlock = 65535;  // the most a stored deflate block holds

void put_be32(std::vector<uint8_t> &out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void put_chunk(std::vector<uint8_t> &out, const char type[4], const std::vector<uint8_t> &data) {
  put_be32(out, static_cast<uint32_t>(data.size()));
  const size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  put_be32(out, png_crc32(out.data() + start, out.size() - start));
}

const std::array<uint32_t, 256> &crc_table() {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  return table;
}

}  // namespace

uint32_t png_crc32(const uint8_t *data, size_t size, uint32_t crc) {
  const std::array<uint32_t, 256> &t = crc_table();
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) crc = t[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

uint32_t adler32(const uint8_t *data, size_t size, uint32_t adler) {
  constexpr uint32_t kMod = 65521;
  uint32_t a = adler & 0xFFFF, b = adler >> 16;
  for (size_t i = 0; i < size; ++i) {
    a = (a + data[i]) % kMod;
    b = (b + a) % kMod;
  }
  return (b << 16) | a;
}

std::vector<uint8_t> encode_png(int width, int height, const std::vector<uint8_t> &rgb) {
  if (width < 1 || height < 1 ||
      rgb.size() != 3 * static_cast<size_t>(width) * static_cast<size_t>(height))
    return {};
  // The filtered rows: a filter byte 0 (none) before each row.
  const size_t row = 3 * static_cast<size_t>(width);
  std::vector<uint8_t> raw;
  raw.reserve((row + 1) * static_cast<size_t>(height));
  for (const uint8_t *p = rgb.data(), *end = p + rgb.size(); p != end; p += row) {
    raw.push_back(0);
    raw.insert(raw.end(), p, p + row);
  }
  // The zlib stream: header (deflate, 32 KB window, no dictionary), stored blocks, Adler-32.
  std::vector<uint8_t> z = {0x78, 0x01};
  for (size_t at = 0;; at += kStoredBlock) {  // raw holds at least one filter byte
    const size_t n = std::min(kStoredBlock, raw.size() - at);
    const bool last = at + n == raw.size();
    z.push_back(last ? 1 : 0);
    z.push_back(static_cast<uint8_t>(n));
    z.push_back(static_cast<uint8_t>(n >> 8));
    z.push_back(static_cast<uint8_t>(~n));
    z.push_back(static_cast<uint8_t>(~n >> 8));
    z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
             raw.begin() + static_cast<std::ptrdiff_t>(at + n));
    if (last) break;
  }
  put_be32(z, adler32(raw.data(), raw.size()));

  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header;
  put_be32(header, static_cast<uint32_t>(width));
  put_be32(header, static_cast<uint32_t>(height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter, no interlace
  put_chunk(out, "IHDR", header);
  put_chunk(out, "IDAT", z);
  put_chunk(out, "IEND", {});
  return out;
}

bool write_png(const std::string &path, int width, int height, const std::vector<uint8_t> &rgb,
               std::string *error) {
  const std::vector<uint8_t> png = encode_png(width, height, rgb);
  if (png.empty()) {
    if (error) *error = "the image is empty or its pixels do not match its size";
    return false;
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(png.data()), static_cast<std::streamsize>(png.size()));
  out.close();
  if (!out) {
    if (error) *error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace lvxsim
