// The connect protocol: connect and disconnect handshakes, polls for trackers and remotes, and
// node-to-node messages.
#pragma once

#include <cstdint>

#include "lumavex_core.h"

namespace lvx {

// Sends a connect packet with the given code; returns the transport's error code (0 on success).
int16_t send_connect_pkt(uint8_t code, const LVXADDR *dest);

// Sends a connect request with `code` to node and waits up to `seconds` for the reply:
// 0 connected, -201 no reply, -202 protocol mismatch, -203 busy, or a send error.
int16_t do_connect(const LVXADDR *node, uint8_t code, int seconds);

// Drops the connection without waiting for the tracker's acknowledgement.
int16_t do_disconnect();

}  // namespace lvx
