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

// Drops the connection without waiting for the tracker's acknowledgement: sends the disconnect
// request to a connected tracker, and marks a relay connection closed (the relay's own step runs
// before this one).
int16_t do_disconnect();

// As do_disconnect for a connected tracker, but never waits longer than about wait_ms for the
// link and send locks (used at process exit). 0, or -100 when a lock could not be had.
int16_t disconnect_within(int wait_ms);

// Polls for trackers (mode 0) or remotes (mode 1) by broadcast: 0, -1 when the send failed, or
// -200 when the link system is not open.
int16_t poll_nodes(int16_t mode);
// Replies counted since the last poll (0 while the link system is closed).
int16_t poll_response_count();
// Node `resp`: 0 this node, -1 the tracker broadcast, -2 the remote broadcast, 1.. the poll
// replies. 0, or -1 when there is no such node or out is null.
int16_t get_node(int16_t resp, LVXNODE *out);

// Copies the tracker's model and version text (at most 39 characters) and returns its
// generation (0 before any tracker answered).
int16_t tracker_version(char *text);
// 0 not connected, 1 connected, 2 listening by broadcast, negative through the relay; -1 in
// dummy mode; 0 while the link system is closed.
int16_t connection_state();
// The tracker's mode word (0 while the link system is closed).
uint16_t tracker_mode_word();

// Sends a node message of up to 420 bytes; 0, -1 for bad arguments, or a send error.
int16_t node_send(const LVXADDR *node, const void *data, uint16_t size);
// Takes the oldest node message into data (at most 420 bytes): its length, 0 when none, negative
// after an overflow.
int16_t node_receive(LVXADDR *sender, void *data);

// The node that the next connect goes to.
int16_t set_tracker_node(const LVXADDR *node);
// The name this node gives itself in connect packets.
void set_own_name(const char *name);
// Sets the quiet level and returns the previous one; a negative level is kept for good.
int16_t set_quiet_level(int16_t level);

}  // namespace lvx
