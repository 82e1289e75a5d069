// Moving the tracker between its modes (idle, camera setup, drift correction, recording,
// playback) and reporting the mode and the state of the data stream.
//
// The exported functions are declared in lumavex_core.h. The decisions they make from plain
// values are kept here as pure functions so that they can be checked without a tracker.
#pragma once

#include <cstdint>
#include <string>

namespace lvx {

// Tracker mode words (header byte 2) that the library sets itself in dummy mode.
constexpr uint16_t kModeIdle = 1;
constexpr uint16_t kModeSetup = 3;
constexpr uint16_t kModeRecording = 14;

// The lumavex_current_mode() bit set for a tracker mode word. `byte18` is the header echo's mode
// code; its 0x02 bit (playback) adds IN_PLAYBACK_MODE to the modes that can run during playback.
// A link that is neither connected nor in dummy mode reports IN_DISCONNECT_MODE alone.
uint16_t mode_bits(uint16_t mode_word, uint8_t byte18, bool connected, bool dummy);

// The start command for lumavex_data_start: "start_recording break data =  " followed by a
// '1' or '0' for each of the flag bits 0x01, 0x02, 0x04, 0x08, each digit followed by a comma,
// and a closing blank.
std::string start_recording_text(uint16_t flags);

// The drift-correction target command: "drift_correction_targets = " with x and y as "%.3f %.3f".
// The numbers are always written in full, however long they are.
std::string drift_correction_targets_text(float x, float y);

// True when a wait of maxwait ms starting at local time `now` would end past the 32-bit
// millisecond clock's wrap; the waiting functions then return 0 at once.
bool wraps(uint32_t now, uint32_t maxwait);

// The recorded eye from the packet flags word of the last data packet: 0x8000 with 0x4000 both
// eyes (2), 0x8000 alone the left eye (0), 0x4000 alone the right eye (1), neither the value
// found before (`remembered`).
int16_t eye_from_flags(uint16_t flags, int16_t remembered);

// True when the tracker must be told "file_close_complete" before a playback: generation 3 or
// later with a software version of at least 3.1, read from the third word of the version text
// ("LUMAVEX RX 5.7"). A text without a readable third word never asks for it.
bool needs_file_close_complete(int generation, const char *version_text);

}  // namespace lvx
