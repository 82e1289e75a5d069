// Feeds arbitrary bytes to the receive walk, as if they had arrived as one datagram or frame.
// The first input byte picks the connection state and the sender, so that the tracker-only and
// relay paths are reached too. Data packets go into the data queue, and the reader then takes
// what was queued, so that queued items are decoded and converted as the application would.
#include <cstddef>
#include <cstdint>

#include "data/data_stream.h"
#include "library/library.h"
#include "link/address.h"
#include "link/dispatcher.h"
#include "link/link_state.h"
#include "link/transport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  static const LVXADDR tracker = lvx::make_address({127, 0, 0, 90}, 589);
  static const LVXADDR stranger = lvx::make_address({127, 0, 0, 91}, 589);
  static const bool ready = [] {
    lvx::ensure_library();
    lvx::data_queue_init(0);
    lvx::link_system().open = true;
    lumavex_data_switch(0x0C);
    return true;
  }();
  (void)ready;
  lvx::LinkRecord &r = lvx::link_record();
  uint8_t mode = data[0];
  r.is_connected = static_cast<int16_t>((mode & 3) == 3 ? -1 : (mode & 3) == 2 ? 0 : 1);
  r.tracker_address = tracker;
  const LVXADDR &sender = (mode & 4) ? stranger : tracker;
  {
    lvx::LinkLockGuard lock;
    int used = lvx::rx_buffer(sender, lvx::Bytes(data + 1, size - 1));
    if (used < 0 || used > static_cast<int>(size - 1)) __builtin_trap();
  }
  float_data slots[8];
  double_data d;
  for (int i = 0; i < 8 && lumavex_get_all_float_data(slots, 8) > 0; ++i) {
    lumavex_get_double_data(&d);
  }
  lumavex_newest_double_sample2(&d);
  return 0;
}
