// Keys and buttons reported by the tracker, and the terminal-break state of the keyboard.
#pragma once

namespace lvx {

// Empties the tracker key queue and the button state (link lock held).
void clear_key_state();
// Clears a pending terminal break.
void clear_terminal_break();
// Handles a KEY_PKT from the tracker; returns the bytes used (0: the rest of the buffer).
int handle_key_packet(const unsigned char *p, int remaining);

}  // namespace lvx
