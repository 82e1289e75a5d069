// Status packets from the tracker: command results, request replies, time replies, bitmap
// acknowledgements, calibration and menu notices. Each one also records its serial as the last
// status serial.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/byte_io.h"
#include "lumavex_core.h"

namespace lvx {

struct ControlState;

// STATUS_PKT field offsets: the serial and tracker time in the header, the status type, two
// values, the text length and the text. A packet shorter than kText lacks a field.
namespace status_pkt {
constexpr size_t kSerial = 4, kTrackerTime = 8, kType = 20, kValue1 = 22, kValue2 = 24,
                 kTextLength = 30, kText = 32;
}  // namespace status_pkt

// Bytes a status packet of `type` with a text of `text_length` counts for in a received buffer.
int status_packet_size(uint16_t type, int text_length);

// Applies one STATUS_PKT (the packet and whatever follows it in the buffer) to `s`; command
// results go to the command channel. Returns the bytes used, or 0 (the rest of the buffer) for a
// packet too short for its fields, which is logged and changes nothing. A text cut short by the
// end of the buffer is taken as far as it goes, and logged. Caller holds the link lock when `s`
// is the process-wide record.
int apply_status_packet(ControlState &s, Bytes packet);

// Handles a STATUS_PKT (receive thread, link lock held); returns the bytes used.
int handle_status_packet(const LVXADDR &sender, Bytes packet);

// Clears the user-menu fields (menu, selection, selection count).
void clear_user_menu_fields();

// Follows the mode word of the tracker's packets (link lock held): entering a user menu clears
// the menu fields. Registered with the link's dispatcher.
void on_tracker_mode_word(unsigned old_mode, unsigned new_mode);

}  // namespace lvx
