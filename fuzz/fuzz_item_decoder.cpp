// Feeds arbitrary bytes to the sample and event decoders and the float and double conversions.
// The first input byte picks the decoder and the prescalers; the rest is one item.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "data/item_decoder.h"
#include "data/record_conversion.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  const lvx::Bytes item(data + 1, size - 1);
  lvx::DecoderState state;
  state.last_sample_time = 0xFFFFFF00u;  // delta times near the wrap
  link_state status{};
  status.position_prescaler = static_cast<uint16_t>((mode >> 2) & 3) * 10;  // 0 included
  status.velocity_prescaler = static_cast<uint16_t>((mode >> 4) & 3) * 10;
  link_data_item out;
  std::memset(&out, 0xA5, sizeof out);
  int r = (mode & 1) ? lvx::decode_event(item, state, status, out)
                     : lvx::decode_sample(item, state, status, out);
  if (r < -2 || r > lvx::kBlockMarkerRecordSize) __builtin_trap();
  if (r > 0) {
    float_data f;
    std::memset(&f, 0, sizeof f);
    if (lvx::to_float(out, status, f)) {
      double_data d;
      std::memset(&d, 0, sizeof d);
      lvx::to_double(f.head.type, f, d);
    }
  }
  return 0;
}
