// Feeds arbitrary bytes to the key-packet handler over a scratch control record, packet after
// packet as the receive walk would: each one starts where the bytes the previous one counted for
// end, until one takes the rest. The first input byte sets whether buttons count as keys (bit 0)
// and the button states before the first packet (bits 1..7).
#include <cstddef>
#include <cstdint>

#include "control/control_state.h"
#include "control/keys.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  auto *s = new lvx::ControlState;
  s->buttons_as_keys = (mode & 1) != 0;
  s->button_states = static_cast<uint16_t>(mode >> 1);
  lvx::Bytes rest(data + 1, size - 1);
  for (int packets = 0; !rest.empty() && packets < 64; ++packets) {
    const int used = lvx::apply_key_packet(*s, rest);
    if (used != 0 && used != lvx::key_pkt::kKeyUsed && used != lvx::key_pkt::kButtonUsed) {
      __builtin_trap();
    }
    if (static_cast<size_t>(used) > rest.size()) __builtin_trap();
    if (s->keys.size() > lvx::kKeyQueueSize) __builtin_trap();
    // A button change always carries its marker bit; the last press is a real button.
    if (s->button_change != 0 && (s->button_change & 0x100) == 0) __builtin_trap();
    if (s->last_button > 15) __builtin_trap();
    if (used == 0) break;
    rest = rest.subspan(static_cast<size_t>(used));
  }
  lvx::TrackerKey k;
  int taken = 0;
  while (s->keys.pop(&k)) ++taken;
  if (taken > lvx::kKeyQueueSize || s->keys.size() != 0) __builtin_trap();
  delete s;
  return 0;
}
