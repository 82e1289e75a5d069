// Feeds arbitrary bytes to the FILE_PKT handler, packet after packet as the receive walk would,
// with the reader taking blocks out between them. The first input byte picks the transfer style
// (bits 0..1) and how many packets go by between reads (bits 2..4; 0: the reader never reads, so
// the ring fills). Acknowledgements are counted, not sent.
#include <cstddef>
#include <cstdint>

#include "files/link_transfer.h"
#include "link/clock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  static const bool once = [] {
    lvx::clock_initialise(false);  // the reader's waits are timed
    lvx::set_file_block_wait_ms_for_testing(1);
    return true;
  }();
  (void)once;
  const int style = data[0] & 3;
  const int read_every = (data[0] >> 2) & 7;
  lvx::begin_file_transfer_for_testing(style == 3 ? 2 : style);
  LVXADDR from{};
  lvx::Bytes rest(data + 1, size - 1);
  uint8_t buf[1024];
  for (int packets = 0; !rest.empty() && packets < 300; ++packets) {
    const int used = lvx::handle_file_packet(from, rest);
    // A packet counts one byte more than its bytes (like the walk's other packets), never more;
    // an error packet always counts 29, however short (the walk ends on a count past the end).
    if (used < 0 ||
        (static_cast<size_t>(used) > rest.size() + 1 && used != lvx::file_pkt::kOverhead))
      __builtin_trap();
    if (read_every != 0 && packets % read_every == 0) {
      int32_t offset = -7;
      bool block = false;
      const int16_t r = lvx::take_file_block(buf, &offset, &block);
      if (r < -113 || r > 1024) __builtin_trap();
      // A block from the ring has a place in the file and a length that fits an entry.
      if (block && r >= 1 && offset < 0) __builtin_trap();
      if (!block && r > 0 && r != 999 && r != 1000) __builtin_trap();
    }
    if (used == 0 || static_cast<size_t>(used) >= rest.size()) break;
    rest = rest.subspan(static_cast<size_t>(used));
  }
  // Drain: every block comes out once; then the ring is empty.
  for (int i = 0; i < 200; ++i) {
    int32_t offset = 0;
    const int16_t r = lvx::get_file_block(buf, &offset);
    if (r == -110 || r == -112 || r == 1000) break;
    if (r > 1024 || r < -113) __builtin_trap();
  }
  lvx::end_link_file_transfer();
  return 0;
}
