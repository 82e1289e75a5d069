// The inter-process relay, through which several programs share one tracker connection. Only
// the entry points the connection code calls exist so far; each reports that no relay runs.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/byte_io.h"
#include "lumavex_core.h"

namespace lvx {

// The relay's process-wide record. Only the serial exists so far: written by the receive thread
// (relay records), read by the command channel.
struct RelayState {
  std::atomic<uint32_t> serial{0};
};
RelayState &relay_state();

int relay_start_master();
int relay_open_slave();
void relay_mark_failed();
void relay_close_connection();
void relay_notify_disconnect();
// The serial number that a relay slave's command results are matched against.
uint32_t relay_serial();
// Hands a message and its time (local microseconds) to the relay master.
int relay_send_message(const char *text, double message_time_us);
// Hands a read request to the relay master.
int relay_read_request(const char *text);

// Walks a buffer received while connected through the relay: text-framed records, "LV_PKT:"
// around packets to walk and "LV_SER:" with the serial that command results are matched against.
// Returns the bytes used. Registered with the link's dispatcher.
int relay_buffer(const LVXADDR &sender, Bytes buffer);

}  // namespace lvx
