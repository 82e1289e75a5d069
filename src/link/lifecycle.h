// Opening and closing the link system and the connection, and the small link settings: node
// name, quiet mode, dummy mode.
#pragma once

#include <atomic>
#include <cstdint>

namespace lvx {

// Process-wide link-level flags. Written by the application thread that opens and closes the
// link; read from any thread.
struct LinkSystem {
  std::atomic<bool> open{false};
  std::atomic<int32_t> connection_opened{0};
  std::atomic<bool> dummy{false};
  std::atomic<bool> broadcast_open{false};
  std::atomic<int16_t> quiet{0};
  std::atomic<int32_t> relay_master{0};
  std::atomic<bool> scripting_host{false};
};

LinkSystem &link_system();
inline bool system_open() {
  return link_system().open;
}
inline bool dummy_mode() {
  return link_system().dummy;
}
inline int16_t quiet_level() {
  return link_system().quiet;
}

// Resets the link for a new connection: break state, dummy flag, file transfer, key queue,
// last status serial and the tracker-clock estimate.
void link_reset();

// The data-queue size that open_lumavex_system uses for a requested size.
uint32_t adjusted_queue_size(uint16_t requested);

}  // namespace lvx
