// Status packets from the tracker: command results, request replies, time replies, bitmap
// acknowledgements, calibration and menu notices. Each one also records its serial as the last
// status serial.
#pragma once

#include <cstdint>

#include "common/byte_io.h"
#include "lumavex_core.h"

namespace lvx {

struct ControlState;

// Bytes a status packet of `type` with a text of `text_length` counts for in a received buffer.
int status_packet_size(uint16_t type, int text_length);

// Applies one STATUS_PKT of `remaining` bytes to `s` (command results go to the command channel);
// returns the bytes used. Caller holds the link lock when `s` is the process-wide record.
int apply_status_packet(ControlState &s, const uint8_t *data, int remaining);

// Handles a STATUS_PKT (receive thread, link lock held); returns the bytes used.
int handle_status_packet(const LVXADDR &sender, Bytes packet);

// Clears the user-menu fields (menu, selection, selection count).
void clear_user_menu_fields();

// Follows the mode word of the tracker's packets (link lock held): entering a user menu clears
// the menu fields. Registered with the link's dispatcher.
void on_tracker_mode_word(unsigned old_mode, unsigned new_mode);

}  // namespace lvx
