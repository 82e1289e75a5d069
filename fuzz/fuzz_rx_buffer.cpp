// Feeds arbitrary bytes to the receive walk, as if they had arrived as one datagram or frame.
// The first input byte picks the connection state and the sender, so that the tracker-only and
// relay paths are reached too.
#include <cstddef>
#include <cstdint>

#include "link/address.h"
#include "link/dispatcher.h"
#include "link/link_state.h"
#include "link/transport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  static const LVXADDR tracker = lvx::make_address({127, 0, 0, 90}, 589);
  static const LVXADDR stranger = lvx::make_address({127, 0, 0, 91}, 589);
  lvx::LinkRecord &r = lvx::link_record();
  uint8_t mode = data[0];
  r.is_connected = static_cast<int16_t>((mode & 3) == 3 ? -1 : (mode & 3) == 2 ? 0 : 1);
  r.tracker_address = tracker;
  const LVXADDR &sender = (mode & 4) ? stranger : tracker;
  lvx::LinkLockGuard lock;
  int used = lvx::rx_buffer(sender, data + 1, static_cast<int>(size - 1));
  if (used < 0 || used > static_cast<int>(size - 1)) __builtin_trap();
  return 0;
}
