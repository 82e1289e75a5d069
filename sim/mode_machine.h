// The tracker's mode machine: which mode the commands put it in, the state flag that stays raised
// while a mode change settles, the settings that commands carry (drift-correction target, record
// lock, link update interval) and the pacing of playback by the display's data requests. Pure:
// no sockets, no threads; every time is passed in, so tests drive it with their own clock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lvxsim {

// Mode values as header byte 2 carries them.
inline constexpr uint8_t kModeIdle = 1;
inline constexpr uint8_t kModeCameraImage = 2;
inline constexpr uint8_t kModeSetupMenu = 3;
inline constexpr uint8_t kModePlayback = 4;
inline constexpr uint8_t kModeUserMenuFirst = 5;
inline constexpr uint8_t kModeUserMenuLast = 7;
inline constexpr uint8_t kModeCalibration = 11;
inline constexpr uint8_t kModeValidation = 12;
inline constexpr uint8_t kModeDriftCorrection = 13;
inline constexpr uint8_t kModeRecording = 14;

// Header byte 18 while the tracker plays a recording back.
inline constexpr uint8_t kPlayingBackBit = 0x02;

// The four digits of "start_recording ... data = a,b,c,d": what goes to the recording file and
// what goes over the link.
struct RecordingFlags {
  bool file_samples = false;
  bool file_events = false;
  bool link_samples = false;
  bool link_events = false;
  bool operator==(const RecordingFlags &) const = default;
};

// Reads the four 0/1 digits after "data" in a start_recording text (separated by commas and
// blanks, after an '='). A text without four such digits starts a recording of everything, as
// the plain "start_recording" does.
RecordingFlags parse_recording_flags(std::string_view text);

// The text after a command's name and the blanks and '=' that follow it.
std::string_view command_value(std::string_view text);

// What a command asks of the tracker besides the mode change the machine makes itself.
enum class CommandAction {
  kNone,
  kStopData,         // leave recording or playback: stop the stream, close the recording
  kStartRecording,   // begin a recording with CommandEffect::recording
  kStartPlayback,    // begin replaying the last recording
  kShowDriftTarget,  // drift correction started: show the target at drift_target()
  kAcceptFixation,   // the target's fixation was accepted
  kApplyDrift,       // the last drift correction is applied
  kSyncStatus,       // send the calibration status again
};

struct CommandEffect {
  bool mode_changed = false;  // a mode was entered: the header changed and the flag rose
  bool data_stopped = false;  // recording or playback ended because of this command
  CommandAction action = CommandAction::kNone;
  RecordingFlags recording;
};

class ModeMachine {
 public:
  // settle_us: how long the state flag stays raised after a mode change. A negative value means
  // the flag is never raised (a tracker whose changes are never reported as settled).
  explicit ModeMachine(int64_t settle_us = 20000) : settle_us_(settle_us) {}

  uint8_t mode() const { return mode_; }
  uint8_t state_flag() const { return settling_ ? 1 : 0; }
  bool playing_back() const { return mode_ == kModePlayback; }
  // Header byte 18: the playing-back bit while playing back.
  uint8_t byte18() const { return playing_back() ? kPlayingBackBit : 0; }
  bool recording() const { return mode_ == kModeRecording; }

  // Moves to a mode at time now_us (entering the mode it is in counts too: the tracker starts it
  // afresh). The state flag is raised until now_us + the settle time. Returns true when the mode
  // value changed.
  bool enter(uint8_t mode, int64_t now_us);
  // Lowers the state flag once its time has come; true when it fell now.
  bool settle(int64_t now_us);
  // When the raised flag falls, if it is raised.
  std::optional<int64_t> settle_due_us() const;

  // Applies a command text (any case) received at now_us.
  CommandEffect on_command(std::string_view text, int64_t now_us);

  // Settings the commands carried.
  float drift_target_x() const { return drift_x_; }
  float drift_target_y() const { return drift_y_; }
  bool record_exit_locked() const { return lock_record_exit_; }
  // The display's link update interval in ms ("link_update_interval = N"); 0 until one arrived.
  int link_interval_ms() const { return link_interval_ms_; }

 private:
  int64_t settle_us_;
  uint8_t mode_ = kModeIdle;
  bool settling_ = false;
  int64_t settle_due_ = 0;
  float drift_x_ = 0;
  float drift_y_ = 0;
  bool lock_record_exit_ = false;
  int link_interval_ms_ = 0;
};

// Paces playback: the packets of a recording go out only as the display asks for them, each
// data request releasing the next `per_request` of them.
class PlaybackPacer {
 public:
  PlaybackPacer(std::vector<std::vector<uint8_t>> packets, int per_request);
  // The packets this request releases (none once all have gone).
  std::vector<std::vector<uint8_t>> on_request();
  bool done() const { return next_ == packets_.size(); }
  size_t remaining() const { return packets_.size() - next_; }
  uint64_t requests() const { return requests_; }

 private:
  std::vector<std::vector<uint8_t>> packets_;
  size_t per_request_;
  size_t next_ = 0;
  uint64_t requests_ = 0;
};

}  // namespace lvxsim
