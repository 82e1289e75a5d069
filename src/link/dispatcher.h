// The receive side of the link: walks a received buffer packet by packet and dispatches each by
// type. Runs on the receive thread with the link lock held.
#pragma once

#include <cstdint>

#include "lumavex_core.h"

namespace lvx {

// Handles one buffer from the transport; returns the bytes used (the rest is carried over and
// put in front of the next datagram).
int rx_buffer(const LVXADDR &sender, const uint8_t *buf, int len);

// Handles one packet at the start of p (remaining bytes from there); returns the bytes used, 0
// to drop the rest of the buffer, or -1 to stop the walk.
int xlink_rx_process(const LVXADDR &sender, const uint8_t *p, int remaining);

}  // namespace lvx
