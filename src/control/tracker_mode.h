// Moving the tracker between its modes (idle, camera setup, drift correction, recording,
// playback) and reporting the mode and the state of the data stream.
//
// The decisions the mode functions make from plain values are kept as pure functions, so that
// they can be checked without a tracker.
#pragma once

#include <cstdint>
#include <string>

namespace lvx {

// Tracker mode words (header byte 2) that the library sets itself in dummy mode.
constexpr uint16_t kModeIdle = 1;
constexpr uint16_t kModeSetup = 3;
constexpr uint16_t kModeRecording = 14;

// The mode bit set (IN_..._MODE) for a tracker mode word. `byte18` is the header echo's mode
// code; its 0x02 bit (playback) adds IN_PLAYBACK_MODE to the modes that can run during playback.
// A link that is neither connected nor in dummy mode reports IN_DISCONNECT_MODE alone.
uint16_t mode_bits(uint16_t mode_word, uint8_t byte18, bool connected, bool dummy);

// The start command of start_recording: "start_recording break data =  " followed by a
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

// ---- Mode changes ----
// Each sends its command and returns the command's result (-100 while not connected); those
// that change the mode then wait up to 500 ms for it to settle.

// Puts the tracker into its idle mode (nothing to send when it is there, or in quiet mode).
int16_t abort_to_idle();
// Puts the tracker offline (set_offline_mode): leaves real-time mode, then abort_to_idle().
int16_t set_offline();
// Opens the setup menu, or the imaging mode when the setup default is nonzero; hides the target.
int16_t start_setup();
int16_t set_setup_default(int16_t mode);
int16_t accept_trigger();
// Sends the target position, then starts a drift correction; clears the calibration result and
// message and hides the target first.
int16_t start_drift_correction(float x, float y);
int16_t apply_drift_correction();
// Starts recording with `flags`: locks or frees the record exit, resets the data stream, and sets
// what the link accepts from flag bits 0x04 (samples) and 0x08 (events).
int16_t start_recording(uint16_t flags, bool lock_exit);
// Stops the link's acceptance and returns the tracker to idle.
int16_t stop_recording();
// Starts or stops playing back the last recording; -100 without a controlling connection or in
// quiet mode. Before a playback the trackers that need it are asked until their file is closed.
int16_t start_playback();
int16_t stop_playback();

// ---- Mode queries ----

// The mode bit set for the link's current mode word (mode_bits).
uint16_t current_mode_bits();
// The setup bit of the current mode; 0 while the link system is closed.
int16_t in_setup();
// Waits up to maxwait ms for the tracker to report its mode change done: 1 once it has (at once
// in dummy mode), 0 when the time runs out (or would wrap the clock), -100 (or -1 when the link
// drops during a wait) while not connected.
int16_t wait_for_mode_ready(uint32_t maxwait);
// The recorded eye (0 left, 1 right, 2 both) during recording or playback, remembered when the
// last data packet names none; -1 in other modes, 2 in dummy mode, -100 while the system is closed.
int16_t eye_available();

// ---- Data-stream queries ----
// In dummy mode and while the link system is closed each has its fixed answer.

int16_t data_count(bool samples, bool events);
uint16_t sample_data_flags();
uint16_t event_type_flags();
int16_t event_data_flags();
int16_t position_prescaler();
// 1 while inside a block of any kind asked for.
int16_t in_data_block(bool samples, bool events);
// Waits up to maxwait ms until every kind of block asked for is open, taking items from the
// queue meanwhile: 1 then, 0 when the time runs out, -100 when not connected.
int16_t wait_for_block_start(uint32_t maxwait, bool samples, bool events);
// Waits up to maxwait ms until an item of a kind asked for is queued: 1 then, 0 when the time runs
// out, -100 when not connected.
int16_t wait_for_data(uint32_t maxwait, bool samples, bool events);

}  // namespace lvx
