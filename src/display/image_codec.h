// The pure pieces of camera-image reception: the IMAGE_PKT and PaletteInfo field offsets, the line
// decompressor, the palette built from a PaletteInfo and the marker points it carries. No state
// beyond the objects themselves, no locks, no I/O.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/byte_io.h"
#include "lumavex_core.h"

namespace lvx {

// One slot of the receive double buffer, and the longest line of the image stream.
constexpr int kImageSlotBytes = 5000;
constexpr int kMaxImageLine = 512;
// Palette entries the palette build fills (indexes 0..199).
constexpr int kCameraPaletteSize = 200;
// A marker coordinate the tracker did not send.
constexpr int16_t kMissingMarker = -32768;

// IMAGE_PKT fields (big-endian) after the header. The first segment of an image carries the
// image description and the info block before its data; later segments carry data at kLaterData.
namespace image_pkt {
constexpr size_t kSegment = 20, kDataLength = 22, kImageType = 24, kInfoLength = 25,
                 kLineLength = 26, kWidth = 28, kHeight = 30, kInfo = 32, kLaterData = 24;
// Bytes a segment counts for besides its data (and, for the first, its info block).
constexpr int kFirstOverhead = 44;
constexpr int kLaterOverhead = 34;
// Shorter packets are refused outright.
constexpr int kMinLength = 34;
// A segment that nobody asked for counts as 20 bytes when it is this short (and no longer than
// its data length + 33).
constexpr int kSmallRejected = 400;
constexpr int kRejectedUsed = 20;
// Image type 2 stores four times the line length it states; type 1 packs two pixels a byte.
constexpr int kTypeNibbles = 1;
constexpr int kTypeWide = 2;
}  // namespace image_pkt

// PaletteInfo fields (offsets into its 48 bytes).
namespace pal {
constexpr size_t kId = 0, kCamera = 2, kPupilThreshold = 3, kFlags = 4, kWord6 = 6,
                 kCrThreshold = 8, kMarker3X = 10, kMarker3Y = 12, kMarker4X = 14, kMarker4Y = 16,
                 kGreyFirst = 18, kGreyFirstLevel = 19, kGreyLast = 20, kGreyLastLevel = 21,
                 kColourCount = 22, kColours = 24, kMarker1X = 24, kMarker1Y = 26, kMarker2X = 28,
                 kMarker2Y = 30, kRamp1 = 32, kRamp2 = 40;
constexpr size_t kSize = 48;
// Offsets within a colour ramp, and within an explicit colour entry.
constexpr size_t kRampFirst = 0, kRampRed = 1, kRampGreen = 2, kRampBlue = 3, kRampLast = 4,
                 kRampDeltaRed = 5, kRampDeltaGreen = 6, kRampDeltaBlue = 7;
constexpr size_t kEntryIndex = 0, kEntryRed = 1, kEntryGreen = 2, kEntryBlue = 3, kEntrySize = 4;
// Explicit colour entries that fit between kColours and the end of the record.
constexpr int kMaxColourEntries = 6;
}  // namespace pal

static_assert(sizeof(PaletteInfo) == pal::kSize);

// PaletteInfo from its 48 wire bytes: the words at 4, 6 and 22 in host order, the rest as sent.
PaletteInfo palette_info_from_wire(std::span<const uint8_t, pal::kSize> wire);
// The 48 wire bytes of a PaletteInfo (the inverse).
std::array<uint8_t, pal::kSize> palette_info_to_wire(const PaletteInfo &info);

// The marker points in the order first (pupil), second (corneal reflection), third, fourth, and
// the marker mode: 0 without LUMAVEX_PAL_MARKERS (then every x is missing), else 2 with
// LUMAVEX_PAL_MARKER_ELLIPSE, 1 with LUMAVEX_PAL_MARKER_BOX, 0 otherwise.
struct MarkerPoints {
  int16_t x[4] = {kMissingMarker, kMissingMarker, kMissingMarker, kMissingMarker};
  int16_t y[4] = {kMissingMarker, kMissingMarker, kMissingMarker, kMissingMarker};
  int mode = 0;
};
int marker_mode(uint16_t flags);
MarkerPoints marker_points(const PaletteInfo &info);

// The camera palette: the grey ramp, the two colour ramps and the explicit entries, with the
// count that the palette dispatch is given.
struct CameraPalette {
  std::array<uint8_t, kCameraPaletteSize> red{}, green{}, blue{};
  int count = 0;
};
CameraPalette build_palette(const PaletteInfo &info);

// The line decompressor. Each line of the stream starts with a mode byte: 0 every byte is a pixel;
// 1 a byte 0xC0..0xFF is a run (the next byte written (code & 0x3F) times) and any other byte a
// pixel; 2 as 1, but a byte 0x80..0xBF copies (code & 0x3F) pixels of the line above at the same
// places. A line ends once it holds its length; what a run or copy writes beyond is dropped.
// Data may be cut anywhere (a run's value byte may come in the next piece): the decoder keeps its
// place between calls.
class LineDecoder {
 public:
  // Starts an image of lines `line_length` bytes long (cut to kMaxImageLine) and `height` lines.
  void start_image(int line_length, int height);
  // Back to the start of a line, keeping the line above and the line count.
  void reset_line();

  // Decodes from *data (advancing it and *remaining) until a line is complete or the data runs
  // out. Returns the number of the line just completed (from 1), or -1 when the data did not
  // complete one.
  int extract(const uint8_t **data, size_t *remaining);

  // The last completed line and its length (min(pixels written, line length)).
  const uint8_t *line() const { return previous_.data(); }
  int line_bytes() const { return last_length_; }
  int line_length() const { return line_length_; }
  int lines_done() const { return lines_done_; }
  int height() const { return height_; }
  // An image of no lines ends with the first line, like one of one line.
  bool image_complete() const { return lines_done_ >= height_; }

 private:
  void put(uint8_t value, int count);
  void copy_above(int count);

  std::array<uint8_t, kMaxImageLine> current_{};
  std::array<uint8_t, kMaxImageLine> previous_{};
  int line_length_ = 0;
  int height_ = 0;
  int pixels_ = 0;       // pixels written to the current line, including any past its length
  int mode_ = -1;        // the current line's mode; -1 until its mode byte has been read
  int pending_run_ = 0;  // a run code whose value byte is still to come (0: none)
  int lines_done_ = 0;
  int last_length_ = 0;
};

// Expands a line of image type 1 (two pixels per byte, high nibble first) into `width` pixels.
void expand_nibbles(const uint8_t *packed, int width, uint8_t *out);

}  // namespace lvx
