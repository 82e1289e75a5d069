// A cursor over received wire bytes, the one way the code reads them. Every field is read
// big-endian through it; a read that would run past the end returns nothing, leaves the
// destination as the caller had it, and marks the reader short, so a truncated packet is an error
// the caller sees rather than silent zeros.
//
// Two styles are offered: sequential reads that move the cursor (items, tags, blocks), and reads
// at a named offset from the start (fixed packet layouts). Both set the same short-read status.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "common/byte_io.h"

namespace lvx {

class WireReader {
 public:
  WireReader() = default;
  explicit WireReader(Bytes bytes) : bytes_(bytes) {}

  // False once any read ran past the end.
  bool ok() const { return !short_; }
  bool short_read() const { return short_; }

  Bytes bytes() const { return bytes_; }
  size_t size() const { return bytes_.size(); }
  size_t pos() const { return pos_; }
  size_t left() const { return pos_ < bytes_.size() ? bytes_.size() - pos_ : 0; }
  bool fits(size_t n) const { return left() >= n; }
  // True when n bytes from `off` lie wholly inside the bytes.
  bool has(size_t off, size_t n) const { return off <= bytes_.size() && bytes_.size() - off >= n; }
  // A byte `offset` bytes ahead of the cursor, 0 outside (does not mark the reader short): for
  // looking ahead at bytes whose place the caller has checked, and for dumps.
  uint8_t peek(size_t offset) const { return has(pos_ + offset, 1) ? load_u8(pos_ + offset) : 0; }
  const uint8_t *here() const { return bytes_.data() + std::min(pos_, bytes_.size()); }

  // Sequential reads. Each returns false (and marks the reader short) when the field does not
  // fit; the cursor still moves past it, so that callers that measure an overrun by position see
  // it.
  bool u8(uint8_t &v) {
    return take(1, [&] { v = load_u8(pos_); });
  }
  bool u16(uint16_t &v) {
    return take(2, [&] { v = load_u16(pos_); });
  }
  bool i16(int16_t &v) {
    return take(2, [&] { v = static_cast<int16_t>(load_u16(pos_)); });
  }
  bool u32(uint32_t &v) {
    return take(4, [&] { v = load_u32(pos_); });
  }
  // A big-endian IEEE single, bit for bit.
  bool f32(float &v) {
    return take(4, [&] {
      const uint32_t bits = load_u32(pos_);
      std::memcpy(&v, &bits, sizeof v);
    });
  }
  // The next n bytes as a span (empty and short when they do not fit).
  Bytes take_bytes(size_t n) {
    Bytes out;
    take(n, [&] { out = bytes_.subspan(pos_, n); });
    return out;
  }

  void skip(size_t n) { pos_ += n; }
  // Skips n bytes but stops at the end.
  void skip_within(size_t n) { pos_ += std::min(n, left()); }
  void seek(size_t pos) { pos_ = pos; }

  // Reads at a fixed offset from the start; the cursor does not move. A field that does not fit
  // gives 0 and marks the reader short.
  uint8_t u8_at(size_t off) { return need(off, 1) ? load_u8(off) : 0; }
  uint16_t u16_at(size_t off) { return need(off, 2) ? load_u16(off) : 0; }
  uint32_t u32_at(size_t off) { return need(off, 4) ? load_u32(off) : 0; }
  // A NUL-terminated text in a fixed field of `len` bytes (the whole field when it holds no NUL);
  // the field must lie inside.
  std::string_view text_at(size_t off, size_t len) {
    if (!need(off, len)) return {};
    const char *p = reinterpret_cast<const char *>(bytes_.data() + off);
    size_t n = 0;
    while (n < len && p[n] != '\0') ++n;
    return {p, n};
  }
  // The bytes [off, off + n); empty and short when they do not fit.
  Bytes bytes_at(size_t off, size_t n) { return need(off, n) ? bytes_.subspan(off, n) : Bytes{}; }

 private:
  // Loads of fields whose bytes the caller has checked are there.
  uint8_t load_u8(size_t off) const { return bytes_[off]; }
  uint16_t load_u16(size_t off) const {
    return static_cast<uint16_t>((bytes_[off] << 8) | bytes_[off + 1]);
  }
  uint32_t load_u32(size_t off) const {
    return (static_cast<uint32_t>(bytes_[off]) << 24) |
           (static_cast<uint32_t>(bytes_[off + 1]) << 16) |
           (static_cast<uint32_t>(bytes_[off + 2]) << 8) | static_cast<uint32_t>(bytes_[off + 3]);
  }

  template <class Read>
  bool take(size_t n, Read read) {
    const bool fit = fits(n);
    if (fit)
      read();
    else
      short_ = true;
    pos_ += n;
    return fit;
  }
  bool need(size_t off, size_t n) {
    if (has(off, n)) return true;
    short_ = true;
    return false;
  }

  Bytes bytes_;
  size_t pos_ = 0;
  bool short_ = false;
};

}  // namespace lvx
