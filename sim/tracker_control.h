// The tracker's control side: the mode machine driven by the display's commands, with the state
// flag raised while a change settles; read requests answered from a table of tracker variables;
// time requests; recordings (streamed over the link and counted as the recording file would
// hold them) and their playback paced by the display's data requests; calibration, validation
// and drift correction with their target and information notices; keys and buttons both ways;
// user menus; and the backdrop bitmap transfer with its acknowledgements.
//
// Every SimTracker has one (SimTracker::control()). With ControlConfig::enabled it installs the
// tracker's handlers for command, key and image packets; the test API below works either way.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/mode_machine.h"
#include "sim/tracker.h"

namespace lvxsim {

// Key codes the tracker acts on while it shows a target.
inline constexpr uint16_t kKeyEnter = 0x0D;
inline constexpr uint16_t kKeyEscape = 0x1B;
// Key code of a flush, and the key packet's fields.
inline constexpr uint16_t kKeyFlush = 0xFFF0;
inline constexpr int8_t kButtonPressed = 10;
inline constexpr int8_t kButtonReleased = -1;

// Status types the tracker sends.
inline constexpr uint16_t kStatusReadReply = 21;
inline constexpr uint16_t kStatusTimeReply = 40;
inline constexpr uint16_t kStatusBitmapAck = 50;
inline constexpr uint16_t kStatusShowTarget = 100;
inline constexpr uint16_t kStatusHideTarget = 101;
inline constexpr uint16_t kStatusFixationAccepted = 102;
inline constexpr uint16_t kStatusCalibrationInfo = 103;
inline constexpr uint16_t kStatusUserMenu = 150;

// Command packet types (byte 25) besides commands.
inline constexpr uint8_t kCommandTypeRead = 21;
inline constexpr uint8_t kCommandTypeTime = 40;
inline constexpr uint8_t kCommandTypePlayback = 61;

// Bitmap acknowledgement values besides counts: the transfer is complete.
inline constexpr int16_t kBitmapComplete = -32002;

// One key packet the display sent.
struct ReceivedKey {
  uint16_t code = 0;
  uint16_t modifiers = 0;
  int8_t state = 0;
  uint8_t button = 0;
  uint16_t raw = 0;
  int64_t tracker_time_us = 0;
};

// What one recording held, as its file would: what was asked for, when it ran, what was written.
struct RecordingRecord {
  RecordingFlags flags;
  bool lock_record_exit = false;
  int64_t start_us = 0;  // tracker time
  int64_t end_us = 0;
  bool finished = false;
  bool streamed = false;      // a link stream ran (a link digit was set)
  uint64_t file_samples = 0;  // written to the file (0 unless its digit was set)
  uint64_t file_events = 0;
  uint64_t link_samples = 0;  // sent over the link
  uint64_t link_events = 0;
  std::vector<RecordedMessage> messages;  // messages stored while it ran
  StreamConfig stream;                    // what the eye and the packets were
};

// The backdrop bitmap received so far.
struct ReceivedBitmap {
  std::string start_command;  // the "start_bitmap_transfer ..." text
  std::vector<uint8_t> bytes;
  uint32_t packets = 0;   // image packets with data taken
  bool complete = false;  // the empty end packet arrived
  uint32_t resend_requests = 0;
};

class TrackerControl {
 public:
  TrackerControl(SimTracker &tracker, ControlConfig config);
  TrackerControl(const TrackerControl &) = delete;
  TrackerControl &operator=(const TrackerControl &) = delete;

  // --- modes ---
  uint8_t mode() const;
  uint8_t state_flag() const;
  bool playing_back() const;
  // Puts the tracker in a mode as if its operator had (the flag rises and settles as for a
  // command). Leaving recording or playback this way ends them.
  void enter_mode(uint8_t mode);
  // Called with (old mode, new mode) on every mode change, on the thread that made it.
  void set_mode_observer(std::function<void(uint8_t, uint8_t)> observer);

  // --- variables ---
  // Sets a tracker variable answered to read requests (names compare without case). Known from
  // the start: screen_pixel_coords, sample_rate, tracker_version, version, lock_record_exit,
  // link_update_interval. A command "name = value" for a known variable updates it.
  void set_variable(const std::string &name, const std::string &value);
  std::optional<std::string> variable(const std::string &name) const;

  // --- recording and playback ---
  std::optional<RecordingRecord> last_recording() const;
  bool recording() const;
  // Data requests served by the current (or last) playback.
  uint64_t playback_requests() const;

  // --- calibration, validation, drift correction ---
  // Status 100 "show_fixpoint x y" (values 1 and 2 carry the position rounded), 101, 103.
  bool show_target(float x, float y);
  bool hide_target();
  bool calibration_info(uint16_t result, const std::string &text);
  bool target_visible() const;

  // --- keys and buttons ---
  std::vector<ReceivedKey> received_keys() const;
  // A key packet to the display stamped with the tracker time. It is 30 bytes, the length the
  // display counts for it, so the raw code is not sent.
  bool send_key(uint16_t code, uint16_t modifiers, uint16_t raw, int8_t state = 0);
  // A button packet (state 10 pressed, -1 released); the button states follow, and a running
  // stream carries the change as a button event.
  bool send_button(uint8_t number, bool pressed);
  uint16_t button_states() const;

  // --- user menus ---
  // Enters user menu 1..3 (mode 5..7) and sends the selection (status 150).
  bool select_user_menu(uint16_t menu, uint16_t selection);

  // --- bitmap ---
  ReceivedBitmap bitmap() const;
  // An acknowledgement with any value: a count, a resend request -s or an error code.
  bool send_bitmap_ack(int16_t value);

 private:
  void handle_command_packet(const ReceivedPacket &p);
  void handle_mode_command(const ReceivedPacket &p, const std::string &text);
  void handle_key(const ReceivedPacket &p);
  void handle_image(const ReceivedPacket &p);
  void answer_read(uint32_t serial, const std::string &name);
  void serve_playback_request();

  // Puts the machine's mode, state flag and playing-back bit into the header; caller holds mu_.
  void publish_locked();
  // Sends the packet that shows a header change and schedules the flag's fall.
  void after_change();
  void schedule_settle();
  void settle_now();
  void start_recording(const RecordingFlags &flags);
  void finish_data();
  void start_playback();
  void end_playback(bool send_close);
  void leave_target_mode(uint8_t from);
  bool send_status(uint32_t serial, uint16_t type, uint16_t v1, uint16_t v2,
                   const std::string &text);
  bool send_keepalive();
  void update_variable_from_command(const std::string &text);

  SimTracker &t_;
  const ControlConfig cfg_;

  mutable std::mutex mu_;
  ModeMachine machine_;
  std::function<void(uint8_t, uint8_t)> mode_observer_;
  std::map<std::string, std::string> variables_;
  std::optional<RecordingRecord> current_;
  std::optional<RecordingRecord> last_;
  std::optional<PlaybackPacer> pacer_;
  std::vector<uint8_t> playback_close_;
  uint64_t playback_requests_ = 0;
  bool target_visible_ = false;
  std::optional<std::pair<uint16_t, std::string>> last_info_;
  std::vector<ReceivedKey> keys_;
  uint16_t buttons_ = 0;
  ReceivedBitmap bitmap_;
  uint16_t bitmap_expected_seq_ = 1;
  int bitmap_unacked_ = 0;
  bool bitmap_resend_pending_ = false;
};

}  // namespace lvxsim
