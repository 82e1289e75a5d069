#include "display/image_codec.h"

#include <algorithm>
#include <cstring>

#include "common/wire_reader.h"

namespace lvx {

namespace {

constexpr uint8_t kRunCode = 0xC0;   // 0xC0..0xFF: a run in modes 1 and 2
constexpr uint8_t kCopyCode = 0x80;  // 0x80..0xBF: a copy from the line above in mode 2
constexpr uint8_t kCountMask = 0x3F;
constexpr int kModeRuns = 1;
constexpr int kModeRunsAndCopies = 2;

// The bytes of a PaletteInfo, which keeps the wire order apart from its three host-order words.
Bytes record_bytes(const PaletteInfo &info) {
  return {reinterpret_cast<const uint8_t *>(&info), sizeof info};
}

uint8_t capped(int value) {
  return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

// The colour ramp at `ramp` in the record: returns the entries it stands for (last - first + 1,
// also when negative) after writing the ones that fit the palette.
int apply_ramp(WireReader &record, size_t ramp, CameraPalette &p) {
  const int first = record.u8_at(ramp + pal::kRampFirst);
  const int last = record.u8_at(ramp + pal::kRampLast);
  const int c0[3] = {record.u8_at(ramp + pal::kRampRed), record.u8_at(ramp + pal::kRampGreen),
                     record.u8_at(ramp + pal::kRampBlue)};
  const int delta[3] = {record.u8_at(ramp + pal::kRampDeltaRed),
                        record.u8_at(ramp + pal::kRampDeltaGreen),
                        record.u8_at(ramp + pal::kRampDeltaBlue)};
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

PaletteInfo palette_info_from_wire(std::span<const uint8_t, pal::kSize> wire) {
  PaletteInfo info{};
  std::memcpy(&info, wire.data(), pal::kSize);
  WireReader r(wire);
  info.flags = r.u16_at(pal::kFlags);
  info.reserved6 = r.u16_at(pal::kWord6);
  info.colour_count = static_cast<int16_t>(r.u16_at(pal::kColourCount));
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
  WireReader r(record_bytes(info));
  MarkerPoints m;
  const size_t xs[4] = {pal::kMarker1X, pal::kMarker2X, pal::kMarker3X, pal::kMarker4X};
  const size_t ys[4] = {pal::kMarker1Y, pal::kMarker2Y, pal::kMarker3Y, pal::kMarker4Y};
  const bool present = (info.flags & LUMAVEX_PAL_MARKERS) != 0;
  for (int i = 0; i < 4; ++i) {
    m.x[i] = present ? static_cast<int16_t>(r.u16_at(xs[i])) : kMissingMarker;
    m.y[i] = static_cast<int16_t>(r.u16_at(ys[i]));
  }
  m.mode = marker_mode(info.flags);
  return m;
}

CameraPalette build_palette(const PaletteInfo &info) {
  CameraPalette p;
  WireReader record(record_bytes(info));
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
  if ((info.flags & LUMAVEX_PAL_RAMP1) != 0) count += apply_ramp(record, pal::kRamp1, p);
  if ((info.flags & LUMAVEX_PAL_RAMP2) != 0) count += apply_ramp(record, pal::kRamp2, p);
  const int entries = std::clamp<int>(info.colour_count, 0, pal::kMaxColourEntries);
  for (int e = 0; e < entries; ++e) {
    const size_t entry = pal::kColours + pal::kEntrySize * static_cast<size_t>(e);
    const uint8_t index = record.u8_at(entry + pal::kEntryIndex);
    if (index >= kCameraPaletteSize) continue;
    p.red[index] = record.u8_at(entry + pal::kEntryRed);
    p.green[index] = record.u8_at(entry + pal::kEntryGreen);
    p.blue[index] = record.u8_at(entry + pal::kEntryBlue);
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
