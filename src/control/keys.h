// Keys and buttons exchanged with the tracker, and the terminal-break state of the keyboard.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "common/byte_io.h"
#include "lumavex_core.h"

namespace lvx {

struct ControlState;

// KEY_PKT field offsets after the header: the tracker time, the key code, the modifiers, the
// state, the button number (0 for a key) and the raw key code.
namespace key_pkt {
constexpr size_t kTime = 20, kCode = 24, kModifiers = 26, kState = 28, kButton = 29, kRaw = 30;
// Bytes a received key or flush echo counts for (it ends before the raw code), and a received
// button packet.
constexpr int kKeyUsed = 30;
constexpr int kButtonUsed = 32;
}  // namespace key_pkt

constexpr size_t kKeyPacketSize = 32;
// Key code of a flush request, and of its echo from the tracker.
constexpr uint16_t kFlushKeyCode = 0xFFF0;
// Key code that send_keybutton takes as "send a button".
constexpr uint16_t kButtonKeyCode = 0xFF00;
// Key code under which a button event enters the key queue when buttons count as keys.
constexpr int16_t kButtonAsKeyCode = -256;

// The 32 bytes of a KEY_PKT as sent: code kButtonKeyCode makes a button packet (code field 0,
// button byte = mods, modifiers 0); any other code a key packet with button byte 0.
std::array<uint8_t, kKeyPacketSize> encode_key_packet(uint16_t code, uint16_t mods, uint8_t state);

// Applies a KEY_PKT received from the tracker to `s`: a flush echo, a key, or a button event.
// Returns the bytes it counts for (30 for a key or flush echo, 32 for a button packet), or 0 for
// "the rest of the buffer" when the packet is cut short: shorter than its fields, it is refused
// (and logged) and changes nothing; a button packet without its last two bytes is still applied.
// Caller holds the link lock when `s` is the process-wide record.
int apply_key_packet(ControlState &s, Bytes packet);

// Empties the tracker key queue and the button state (link lock held).
void clear_key_state();
// Ends a terminal break: the application-terminated flag is cleared as set_terminal_break does.
void clear_terminal_break();
// Handles a KEY_PKT from the tracker (receive thread, link lock held); returns the bytes used
// (0: the rest of the buffer).
int handle_key_packet(const LVXADDR &sender, Bytes packet);

// Sends a key (or with kButtonKeyCode a button) to the tracker: the send result, 0 without
// sending through the relay or in dummy or full quiet mode, -100 while not connected.
int16_t send_keybutton(uint16_t code, uint16_t mods, uint8_t state);
// Asks the tracker to flush its keys and clears the key queue and button records here; buttons
// count as keys from then on when `enable_buttons`. Returns the send result (-100 while not
// connected), 0 through the relay or in dummy mode (which change nothing).
int16_t flush_keybuttons(bool enable_buttons);
// The tracker's button states as last reported; 0 while the link system is closed.
uint16_t tracker_button_states();
// The last button change (the mask with 0x100 set) or the last button pressed, with its time;
// reading either clears both. 0 when there is none or the link system is closed.
uint16_t take_button_change(uint32_t *time);
uint16_t take_last_button_press(uint32_t *time);
// Takes the oldest key from the tracker: its code, with its modifiers, signed state, raw code and
// time in the outputs that are not null. 0 when none is queued or the link system is closed.
uint16_t read_tracker_key(int16_t *mods, int16_t *state, uint16_t *kcode, uint32_t *time);

}  // namespace lvx
