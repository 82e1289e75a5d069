// Status packets from the tracker: command results, request replies, time replies, bitmap
// acknowledgements, calibration and menu notices. Each one also records its serial as the last
// status serial.
#pragma once

#include <cstdint>

namespace lvx {

struct ControlState;

// Bytes a status packet of `type` with a text of `text_length` counts for in a received buffer.
int status_packet_size(uint16_t type, int text_length);

// Applies one STATUS_PKT of `remaining` bytes to `s` (command results go to the command channel);
// returns the bytes used. Caller holds the link lock when `s` is the process-wide record.
int apply_status_packet(ControlState &s, const uint8_t *data, int remaining);

// Handles a STATUS_PKT (receive thread, link lock held); returns the bytes used.
int handle_status_packet(const uint8_t *p, int remaining);

// Clears the user-menu fields (menu, selection, selection count).
void clear_user_menu_fields();

}  // namespace lvx
