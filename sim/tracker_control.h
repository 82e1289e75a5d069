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

#include "sim/backdrop_receiver.h"
#include "sim/camera.h"
#include "sim/data_file.h"
#include "sim/mode_machine.h"
#include "sim/packet_decoders.h"
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

// Keys of the setup screens: the arrows switch cameras (left, right) and move the pupil
// threshold (up, down).
inline constexpr uint16_t kKeyLeft = 0x4B00;
inline constexpr uint16_t kKeyRight = 0x4D00;
inline constexpr uint16_t kKeyUp = 0x4800;
inline constexpr uint16_t kKeyDown = 0x5000;

// Command packet types (byte 25) besides commands.
inline constexpr uint8_t kCommandTypeImageAck = 50;
inline constexpr uint8_t kCommandTypeRead = 21;
inline constexpr uint8_t kCommandTypeTime = 40;
inline constexpr uint8_t kCommandTypePlayback = 61;

// Bitmap acknowledgement values besides counts: the transfer is complete.
inline constexpr int16_t kBitmapComplete = -32002;

// A node message that steers the eye (ControlConfig::follow_pointer): the pointer, or nullopt
// for "gaze_pointer off".
struct PointerMessage {
  std::optional<std::pair<double, double>> pointer;
};
// Reads "gaze_pointer X Y" or "gaze_pointer off"; nullopt for any other payload.
std::optional<PointerMessage> parse_pointer_message(const std::vector<uint8_t> &payload);

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

// What the camera has sent.
struct CameraStats {
  uint64_t requests = 0;      // image requests
  uint64_t images = 0;        // images whose first segment went out
  uint64_t segments = 0;      // segments sent
  uint64_t acks = 0;          // acknowledgements received
  int width = 0, height = 0;  // of the last image
};

// One accepted fixation of a calibration or validation.
struct FixationRecord {
  float target_x = 0, target_y = 0;  // screen pixels
  float gaze_x = 0, gaze_y = 0;      // where the eye was
  double error_deg = 0;              // validation: distance after the calibration's correction
};

// The report of the last validation.
struct ValidationReport {
  std::vector<FixationRecord> points;
  double average_deg = 0;
  double max_deg = 0;
  std::string text;  // the result text sent with status 103
};

class TrackerControl {
 public:
  TrackerControl(SimTracker &tracker, ControlConfig config);
  ~TrackerControl();
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

  // --- camera setup ---
  // Images are answered to "send_camera_image 0x1K W H" at the size asked, no faster than the
  // camera's picture rate, one segment at first and one more per acknowledgement.
  CameraStats camera_stats() const;
  uint8_t camera() const;
  void set_camera(uint8_t code);
  // Where the eye looks now (screen pixels): at the shown target (plus the drift until a drift
  // correction), or wandering around the centre.
  std::pair<double, double> gaze() const;
  // The pointer the eye follows (SimTracker::follow_pointer), also while the camera is shown;
  // set by the display's "gaze_pointer" node messages, or here.
  void set_pointer(std::optional<std::pair<double, double>> pointer);
  std::optional<std::pair<double, double>> pointer() const;
  // The search area centre (fractions of the image), moved by "setup_mode_global_click".
  std::pair<double, double> search_area() const;
  int pupil_threshold() const;
  int calibration_points() const;
  // The fixations of the last calibration, and the last validation.
  std::vector<FixationRecord> last_calibration() const;
  std::optional<ValidationReport> last_validation() const;
  // The drift (screen pixels) the last accepted drift correction measured.
  std::optional<std::pair<float, float>> last_drift() const;

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

  // --- the abort menu ---
  // The operator opens the abort menu (user menu 1, mode 5), as during a trial: a running
  // recording ends. Its four entries: 1 setup (the tracker goes to its setup menu), 2 and 3 the
  // application's own choices, 4 abort. Returns whether a recording was running.
  bool open_abort_menu();
  // The operator picks an entry of the open abort menu: the selection goes to the display
  // (status 150, menu 1); entry 1 then enters the setup menu, the others leave the menu shown
  // for the display to act on. False when the menu is not open.
  bool choose_abort_entry(uint16_t entry);

  // --- the recording file ---
  // The data folder (see SimTracker::data_dir()).
  std::string data_dir();
  // The full path of the open recording file, and of the last one closed.
  std::optional<std::string> open_file_path() const;
  std::optional<std::string> last_file_path() const;

  // --- backdrop ---
  // The packets of the current (or last) link transfer.
  ReceivedBitmap bitmap() const;
  // An acknowledgement with any value: a count, a resend request -s or an error code.
  bool send_bitmap_ack(int16_t value);
  // Faults for later link transfers: a lost packet, or a tracker that stops answering.
  void set_bitmap_faults(const BitmapFaults &faults);
  // The last backdrop shown (a link transfer completed, or a file drawn by "draw_image"), and
  // how many were shown.
  std::optional<Backdrop> backdrop() const;
  uint64_t backdrops_shown() const;
  // Writes the last backdrop as a PNG; false (with the reason) when there is none or it cannot
  // be written.
  bool save_backdrop_png(const std::string &path, std::string *error = nullptr) const;

 private:
  void handle_command_packet(const ReceivedPacket &p);
  void handle_mode_command(const ReceivedPacket &p, const CommandPacket &command);
  void handle_key(const ReceivedPacket &p);
  void handle_image(const ReceivedPacket &p);
  // "draw_image <file>": shows a BMP file the tracker holds (an upload in progress is waited for).
  void draw_image(const std::string &text);
  void after_backdrop_shown();
  void on_image_request(const std::string &text);
  void send_image(uint64_t generation, int width, int height);
  void on_image_ack();
  void on_global_click(const std::string &text);
  // Calibration and validation: the first target, and each accepted fixation.
  void start_calibration(bool validate);
  void accept_calibration_fixation();
  void accept_drift_fixation();
  std::string drift_text();
  CameraScene scene_locked(int64_t now_us) const;
  void steer_locked(std::optional<TargetPoint> target);
  void answer_read(uint32_t serial, const std::string &name);
  // The file commands: their results.
  int16_t open_file(const std::string &text);
  int16_t close_file();
  // Writes the messages stored since the last write into the open file (file_mu_ held).
  void write_pending_messages_locked();
  // Writes an ended recording into the open file.
  void write_recording(const RecordingRecord &rec);
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
  BackdropReceiver backdrop_;

  // Camera setup.
  uint8_t camera_ = kCameraLeftEye;
  int pupil_threshold_ = 88;
  int cr_threshold_ = 200;
  double search_x_ = 0.5, search_y_ = 0.5;
  bool extended_info_ = false;
  uint32_t frame_ = 0;
  uint64_t image_generation_ = 0;
  int64_t last_image_us_ = 0;
  std::vector<std::vector<uint8_t>> image_segments_;
  size_t next_segment_ = 0;
  CameraStats camera_stats_;
  std::optional<TargetPoint> gaze_target_;            // the target the eye looks at
  std::optional<std::pair<double, double>> pointer_;  // the pointer it follows otherwise
  bool drift_corrected_ = false;
  int calibration_points_ = 9;
  std::vector<TargetPoint> targets_;
  size_t target_index_ = 0;
  bool validating_ = false;
  std::vector<FixationRecord> fixations_;
  std::vector<FixationRecord> last_calibration_;
  std::optional<ValidationReport> last_validation_;
  std::optional<std::pair<float, float>> last_drift_;
  // The recording file: guarded by file_mu_ (taken after mu_, never before it).
  mutable std::mutex file_mu_;
  std::string data_dir_;
  bool owns_data_dir_ = false;
  bool long_names_ = false;
  std::optional<DataFileWriter> file_;
  std::optional<std::string> last_file_;
  size_t messages_written_ = 0;  // of SimTracker::recorded_messages()
  uint64_t noise_state_ = 0;
  double noise();  // about N(0, 1), from camera_seed
};

}  // namespace lvxsim
