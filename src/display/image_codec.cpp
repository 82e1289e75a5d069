#include "display/image_codec.h"

#include <algorithm>
#include <cstring>

namespace lvx {

namespace {

constexpr uint8_t kRunCode = 0xC0;   // 0xC0..0xFF: a run in modes 1 and 2
constexpr uint8_t kCopyCode = 0x80;  // 0x80..0xBF: a copy from the line above in mode 2
constexpr uint8_t kCountMask = 0x3F;
constexpr int kModeRuns = 1;
constexpr int kModeRunsAndCopies = 2;

uint16_t host_word(Bytes wire, size_t off) {
  return get_u16(wire, off);
}

int16_t big_endian_s16(const uint8_t *p) {
  return static_cast<int16_t>((p[0] << 8) | p[1]);
}

uint8_t capped(int value) {
  return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

// Colour ramp at `ramp` (8 bytes): returns the entries it stands for (last - first + 1, also
// when negative) after writing the ones that fit the palette.
int apply_ramp(const uint8_t *ramp, CameraPalette &p) {
  const int first = ramp[pal::kRampFirst];
  const int last = ramp[pal::kRampLast];
  const int c0[3] = {ramp[pal::kRampRed], ramp[pal::kRampGreen], ramp[pal::kRampBlue]};
  const int delta[3] = {ramp[pal::kRampDeltaRed], ramp[pal::kRampDeltaGreen],
                        ramp[pal::kRampDeltaBlue]};
  std::array<uint8_t, kCameraPaletteSize> *channels[3] = {&p.red, &p.green, &p.blue};
  if (last >= first) {
    const int span = last - first;
    for (int i = 0; i <= span && first + i < kCameraPaletteSize; ++i) {
      for (int c = 0; c < 3; ++c) {
        int v = span == 0 ? c0[c] : c0[c] + i * delta[c] / span;
        (*channels[c])[static_cast<size_t>(first + i)] = capped(v);
      }
    }
  }
  return last - first + 1;
}

}  // namespace

PaletteInfo palette_info_from_wire(Bytes wire) {
  PaletteInfo info{};
  const size_t n = std::min(wire.size(), pal::kSize);
  std::memcpy(&info, wire.data(), n);
  info.flags = host_word(wire, pal::kFlags);
  info.reserved6 = host_word(wire, pal::kWord6);
  info.colour_count = static_cast<int16_t>(host_word(wire, pal::kColourCount));
  return info;
}

std::array<uint8_t, pal::kSize> palette_info_to_wire(const PaletteInfo &info) {
  std::array<uint8_t, pal::kSize> wire{};
  std::memcpy(wire.data(), &info, pal::kSize);
  MutableBytes b(wire);
  put_u16(b, pal::kFlags, info.flags);
  put_u16(b, pal::kWord6, info.reserved6);
  put_u16(b, pal::kColourCount, static_cast<uint16_t>(info.colour_count));
  return wire;
}

int marker_mode(uint16_t flags) {
  if ((flags & LUMAVEX_PAL_MARKERS) == 0) return 0;
  if ((flags & LUMAVEX_PAL_MARKER_ELLIPSE) != 0) return 2;
  if ((flags & LUMAVEX_PAL_MARKER_BOX) != 0) return 1;
  return 0;
}

MarkerPoints marker_points(const PaletteInfo &info) {
  const auto *raw = reinterpret_cast<const uint8_t *>(&info);
  MarkerPoints m;
  const size_t xs[4] = {pal::kMarker1X, pal::kMarker2X, pal::kMarker3X, pal::kMarker4X};
  const size_t ys[4] = {pal::kMarker1Y, pal::kMarker2Y, pal::kMarker3Y, pal::kMarker4Y};
  const bool present = (info.flags & LUMAVEX_PAL_MARKERS) != 0;
  for (int i = 0; i < 4; ++i) {
    m.x[i] = present ? big_endian_s16(raw + xs[i]) : kMissingMarker;
    m.y[i] = big_endian_s16(raw + ys[i]);
  }
  m.mode = marker_mode(info.flags);
  return m;
}

CameraPalette build_palette(const PaletteInfo &info) {
  CameraPalette p;
  const auto *raw = reinterpret_cast<const uint8_t *>(&info);
  const int first = info.grey_first;
  const int last = info.grey_last;
  const int l0 = info.grey_first_level;
  const int l1 = info.grey_last_level;
  for (int i = first; i <= last && i < kCameraPaletteSize; ++i) {
    // A descending ramp (last level below the first) simply runs downwards.
    int level = last == first ? l0 : l0 + (i - first) * (l1 - l0) / (last - first);
    const auto v = static_cast<uint8_t>(level & 0xFF);
    p.red[static_cast<size_t>(i)] = p.green[static_cast<size_t>(i)] =
        p.blue[static_cast<size_t>(i)] = v;
  }
  int count = last - first + 1;
  if ((info.flags & LUMAVEX_PAL_RAMP1) != 0) count += apply_ramp(raw + pal::kRamp1, p);
  if ((info.flags & LUMAVEX_PAL_RAMP2) != 0) count += apply_ramp(raw + pal::kRamp2, p);
  const int entries = std::clamp<int>(info.colour_count, 0, pal::kMaxColourEntries);
  for (int e = 0; e < entries; ++e) {
    const uint8_t *c = raw + pal::kColours + 4 * static_cast<size_t>(e);
    if (c[0] >= kCameraPaletteSize) continue;
    p.red[c[0]] = c[1];
    p.green[c[0]] = c[2];
    p.blue[c[0]] = c[3];
  }
  count += entries;
  // The palette dispatch is never told of entries the arrays do not have.
  p.count = std::clamp(count, 0, kCameraPaletteSize);
  return p;
}

void LineDecoder::start_image(int line_length, int height) {
  line_length_ = std::clamp(line_length, 0, kMaxImageLine);
  height_ = height;
  lines_done_ = 0;
  last_length_ = 0;
  previous_.fill(0);
  reset_line();
}

void LineDecoder::reset_line() {
  pixels_ = 0;
  mode_ = -1;
  pending_run_ = 0;
}

void LineDecoder::put(uint8_t value, int count) {
  for (int k = 0; k < count && pixels_ < line_length_; ++k)
    current_[static_cast<size_t>(pixels_++)] = value;
}

void LineDecoder::copy_above(int count) {
  for (int k = 0; k < count && pixels_ < line_length_; ++k, ++pixels_)
    current_[static_cast<size_t>(pixels_)] = previous_[static_cast<size_t>(pixels_)];
}

int LineDecoder::extract(const uint8_t **data, size_t *remaining) {
  const uint8_t *p = *data;
  size_t n = *remaining;
  bool complete = false;
  // The mode byte is read once per line, also when the line's first code is a run of 0 or the
  // mode byte was the last byte of a piece.
  if (mode_ < 0 && n > 0) {
    mode_ = *p++;
    --n;
  }
  if (mode_ >= 0) {
    if (pending_run_ != 0 && n > 0) {
      put(*p++, pending_run_ & kCountMask);
      --n;
      pending_run_ = 0;
    }
    const bool codes = mode_ == kModeRuns || mode_ == kModeRunsAndCopies;
    while (pending_run_ == 0 && n > 0 && pixels_ < line_length_) {
      const uint8_t c = *p++;
      --n;
      if (codes && c >= kRunCode) {
        if (n == 0) {
          pending_run_ = c;  // its value byte comes with the next piece
          break;
        }
        put(*p++, c & kCountMask);
        --n;
      } else if (mode_ == kModeRunsAndCopies && c >= kCopyCode) {
        copy_above(c & kCountMask);
      } else {
        put(c, 1);
      }
    }
    complete = pending_run_ == 0 && pixels_ >= line_length_;
  }
  *data = p;
  *remaining = n;
  if (!complete) return -1;
  ++lines_done_;
  last_length_ = std::min(pixels_, line_length_);
  std::memcpy(previous_.data(), current_.data(), static_cast<size_t>(line_length_));
  reset_line();
  return lines_done_;
}

void expand_nibbles(const uint8_t *packed, int width, uint8_t *out) {
  for (int i = 0; i < width; ++i) {
    const uint8_t b = packed[i / 2];
    out[i] = (i % 2 == 0) ? static_cast<uint8_t>(b >> 4) : static_cast<uint8_t>(b & 0x0F);
  }
}

}  // namespace lvx
