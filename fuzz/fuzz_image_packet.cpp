// Feeds arbitrary image packets to the camera-image receiver and reads lines back as the camera
// view would. The input is a run of chunks: a control byte (bit 0: a request goes out first,
// bit 1: read lines after the packet, bit 2: abort first), a 16-bit length, then the packet.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "display/camera_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static lvx::ImageReceiver *receiver = new lvx::ImageReceiver;
  lvx::ImageReceiver &r = *receiver;
  r.abort();
  uint8_t line[lvx::kMaxImageLine];
  size_t at = 0;
  while (at + 3 <= size) {
    const uint8_t control = data[at];
    const size_t length =
        std::min<size_t>(static_cast<size_t>(data[at + 1]) << 8 | data[at + 2], size - at - 3);
    at += 3;
    if ((control & 4) != 0) r.abort();
    if ((control & 1) != 0) r.set_pending();
    const int used = r.on_packet(lvx::Bytes(data + at, length), 1);
    if (used < -1) __builtin_trap();
    if (used == -1 && length >= static_cast<size_t>(lvx::image_pkt::kMinLength)) __builtin_trap();
    at += length;
    if ((control & 2) == 0) continue;
    for (int i = 0; i < 70000; ++i) {
      int acks = 0;
      const int n = r.next_line(line, &acks);
      if (n > std::max(r.height(), 1) || r.line_length() > lvx::kMaxImageLine) __builtin_trap();
      if (n <= 0) break;
    }
  }
  return 0;
}
