// Bounds-checked big-endian reading and writing of wire fields. Packets are never read by laying
// a struct over their bytes: every field goes through these helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

namespace lvx {

using Bytes = std::span<const uint8_t>;
using MutableBytes = std::span<uint8_t>;

inline uint8_t get_u8(Bytes b, size_t off) {
  return off < b.size() ? b[off] : 0;
}

inline uint16_t get_u16(Bytes b, size_t off) {
  if (off + 2 > b.size()) return 0;
  return static_cast<uint16_t>((b[off] << 8) | b[off + 1]);
}

inline uint32_t get_u32(Bytes b, size_t off) {
  if (off + 4 > b.size()) return 0;
  return (static_cast<uint32_t>(b[off]) << 24) | (static_cast<uint32_t>(b[off + 1]) << 16) |
         (static_cast<uint32_t>(b[off + 2]) << 8) | static_cast<uint32_t>(b[off + 3]);
}

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

// Reads a NUL-terminated text from a fixed field, stopping at the field's end.
inline std::string_view get_text(Bytes b, size_t off, size_t len) {
  if (off >= b.size()) return {};
  if (off + len > b.size()) len = b.size() - off;
  const char *p = reinterpret_cast<const char *>(b.data() + off);
  size_t n = 0;
  while (n < len && p[n] != '\0') ++n;
  return {p, n};
}

}  // namespace lvx
