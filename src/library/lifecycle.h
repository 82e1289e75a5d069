// Opening and closing the link system and the connection: the steps of every subsystem, run in
// order. The exported connection functions are thin wrappers over these.
#pragma once

#include <cstdint>

#include "lumavex_core.h"

namespace lvx {

// The data-queue size that open_system uses for a requested size.
uint32_t adjusted_queue_size(uint16_t requested);

// Resets the link for a new connection: break state, dummy flag, file transfer, key queue, last
// status serial and the tracker-clock estimate.
void reset_link();

// Opens the link system: -1 on success, 0 on failure (the transport could not start).
int16_t open_system(uint16_t bufsize, const char *options);
void close_system();

// Connects to a node (busytest > 0: only when the tracker is free), to the stored tracker node,
// by broadcast, or in dummy mode. 0, or the connect result codes.
int16_t open_node(const LVXADDR *node, int16_t busytest);
int16_t open_tracker();
int16_t broadcast_open();
int16_t dummy_open();
// Drops the connection without waiting for the tracker's acknowledgement.
int16_t close_link();

// The whole connection: opens the link system and connects as `mode` asks (0 the tracker, 1
// dummy, 2 relay slave, 3 relay master), alerting on failure. 0 or -1.
int16_t open_connection(int16_t mode);
// Puts a connected tracker into its idle mode, closes its data file, disconnects and closes the
// link system.
void close_connection();

// Ends the link at process exit within about wait_ms: a connected tracker is sent its
// disconnect and the receive thread is stopped.
void end_link_at_exit(int wait_ms);

}  // namespace lvx
