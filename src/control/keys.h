// Keys and buttons exchanged with the tracker, and the terminal-break state of the keyboard.
#pragma once

#include <array>
#include <cstdint>

#include "common/byte_io.h"
#include "lumavex_core.h"

namespace lvx {

struct ControlState;

constexpr size_t kKeyPacketSize = 32;
// Key code of a flush request, and of its echo from the tracker.
constexpr uint16_t kFlushKeyCode = 0xFFF0;
// Key code that lumavex_send_keybutton takes as "send a button".
constexpr uint16_t kButtonKeyCode = 0xFF00;
// Key code under which a button event enters the key queue when buttons count as keys.
constexpr int16_t kButtonAsKeyCode = -256;

// The 32 bytes of a KEY_PKT as sent: code kButtonKeyCode makes a button packet (code field 0,
// button byte = mods, modifiers 0); any other code a key packet with button byte 0.
std::array<uint8_t, kKeyPacketSize> encode_key_packet(uint16_t code, uint16_t mods, uint8_t state);

// Applies a KEY_PKT received from the tracker to `s`: a flush echo, a key, or a button event.
// Returns the bytes it counts for (30 for a key or flush echo, 32 for a button packet), or 0 for
// "the rest of the buffer" when the packet is cut short. Caller holds the link lock when `s` is
// the process-wide record.
int apply_key_packet(ControlState &s, Bytes packet);

// Empties the tracker key queue and the button state (link lock held).
void clear_key_state();
// Ends a terminal break: the application-terminated flag is cleared as by terminal_break(0).
void clear_terminal_break();
// Handles a KEY_PKT from the tracker (receive thread, link lock held); returns the bytes used
// (0: the rest of the buffer).
int handle_key_packet(const LVXADDR &sender, Bytes packet);

}  // namespace lvx
