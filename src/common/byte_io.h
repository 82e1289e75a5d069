// Big-endian writing of wire fields into a buffer that holds them (a field that does not fit is
// not written). Received bytes are read only through the cursor (wire_reader.h), never by laying a
// struct over them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

namespace lvx {

using Bytes = std::span<const uint8_t>;
using MutableBytes = std::span<uint8_t>;

inline void put_u8(MutableBytes b, size_t off, uint8_t v) {
  if (off < b.size()) b[off] = v;
}

inline void put_u16(MutableBytes b, size_t off, uint16_t v) {
  if (off + 2 > b.size()) return;
  b[off] = static_cast<uint8_t>(v >> 8);
  b[off + 1] = static_cast<uint8_t>(v);
}

inline void put_u32(MutableBytes b, size_t off, uint32_t v) {
  if (off + 4 > b.size()) return;
  b[off] = static_cast<uint8_t>(v >> 24);
  b[off + 1] = static_cast<uint8_t>(v >> 16);
  b[off + 2] = static_cast<uint8_t>(v >> 8);
  b[off + 3] = static_cast<uint8_t>(v);
}

// Copies text into a fixed field of `len` bytes, NUL-padded; the last byte is always NUL.
inline void put_text(MutableBytes b, size_t off, size_t len, std::string_view text) {
  if (len == 0 || off + len > b.size()) return;
  std::memset(b.data() + off, 0, len);
  std::memcpy(b.data() + off, text.data(), text.size() < len - 1 ? text.size() : len - 1);
}

}  // namespace lvx
