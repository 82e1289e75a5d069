// Feeds arbitrary bytes to the line decompressor and the palette build. The input: a 16-bit line
// length, a piece size, 48 bytes of PaletteInfo, then the image stream, fed in pieces of that
// size as segments would bring it.
#include <cstddef>
#include <cstdint>

#include "display/image_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  constexpr size_t kHead = 3 + lvx::pal::kSize;
  if (size < kHead) return 0;
  const int line_length = data[0] << 8 | data[1];
  const size_t piece = data[2] == 0 ? 1 : data[2];
  const PaletteInfo info =
      lvx::palette_info_from_wire(lvx::Bytes(data + 3, lvx::pal::kSize).first<lvx::pal::kSize>());
  const lvx::CameraPalette palette = lvx::build_palette(info);
  if (palette.count < 0 || palette.count > lvx::kCameraPaletteSize) __builtin_trap();
  const lvx::MarkerPoints markers = lvx::marker_points(info);
  if (markers.mode < 0 || markers.mode > 2) __builtin_trap();

  lvx::LineDecoder decoder;
  decoder.start_image(line_length, 1 << 20);
  int lines = 0;
  for (size_t at = kHead; at < size; at += piece) {
    const uint8_t *p = data + at;
    size_t n = std::min(piece, size - at);
    while (n > 0) {
      const int line = decoder.extract(&p, &n);
      if (line < 0) break;
      if (line != ++lines || decoder.line_bytes() > decoder.line_length() ||
          decoder.line_length() > lvx::kMaxImageLine)
        __builtin_trap();
    }
  }
  return 0;
}
