// The tracker's mode machine and playback pacing.
#include "sim/mode_machine.h"

#include <cctype>
#include <cstdlib>
#include <string>

#include "common/text.h"
#include "sim/command_table.h"

namespace lvxsim {

namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

}  // namespace

std::string_view command_value(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && is_blank(text[i])) ++i;
  while (i < text.size() && !is_blank(text[i]) && text[i] != '=') ++i;
  while (i < text.size() && (is_blank(text[i]) || text[i] == '=')) ++i;
  return text.substr(i);
}

RecordingFlags parse_recording_flags(std::string_view text) {
  RecordingFlags everything{true, true, true, true};
  size_t eq = text.find('=');
  if (eq == std::string_view::npos) return everything;
  int digits[4];
  size_t found = 0;
  for (size_t i = eq + 1; i < text.size() && found < 4; ++i) {
    char c = text[i];
    if (c == '0' || c == '1') {
      digits[found++] = c - '0';
    } else if (c != ',' && !is_blank(c)) {
      return everything;
    }
  }
  if (found < 4) return everything;
  return RecordingFlags{digits[0] != 0, digits[1] != 0, digits[2] != 0, digits[3] != 0};
}

bool ModeMachine::enter(uint8_t mode, int64_t now_us) {
  bool changed = mode != mode_;
  mode_ = mode;
  if (settle_us_ >= 0) {
    settling_ = true;
    settle_due_ = now_us + settle_us_;
  }
  return changed;
}

bool ModeMachine::settle(int64_t now_us) {
  if (!settling_ || now_us < settle_due_) return false;
  settling_ = false;
  return true;
}

std::optional<int64_t> ModeMachine::settle_due_us() const {
  if (!settling_) return std::nullopt;
  return settle_due_;
}

CommandEffect ModeMachine::on_command(std::string_view text, int64_t now_us) {
  CommandEffect e;
  const std::string name = command_name(text);
  const std::string_view value = command_value(text);
  const bool had_data = recording() || playing_back();
  auto go = [&](uint8_t mode) {
    enter(mode, now_us);
    e.mode_changed = true;
  };

  if (name == "set_idle_mode") {
    go(kModeIdle);
  } else if (name == "set_imaging_mode") {
    go(kModeCameraImage);
  } else if (name == "setup_menu_mode") {
    go(kModeSetupMenu);
  } else if (name == "start_drift_correction") {
    go(kModeDriftCorrection);
    e.action = CommandAction::kShowDriftTarget;
  } else if (name == "drift_correction_targets") {
    char *end = nullptr;
    std::string v(value);
    float x = std::strtof(v.c_str(), &end);
    if (end != v.c_str()) {
      const char *rest = end;
      float y = std::strtof(rest, &end);
      if (end != rest) {
        drift_x_ = x;
        drift_y_ = y;
      }
    }
  } else if (name == "accept_target_fixation") {
    if (mode_ == kModeCalibration || mode_ == kModeValidation || mode_ == kModeDriftCorrection) {
      e.action = CommandAction::kAcceptFixation;
      // A drift correction ends with its one accepted fixation; calibration goes on.
      if (mode_ == kModeDriftCorrection) go(kModeIdle);
    }
  } else if (name == "apply_last_drift_correction") {
    e.action = CommandAction::kApplyDrift;
  } else if (name == "start_recording") {
    // A new recording ends the one running (or the playback) first.
    e.data_stopped = had_data;
    go(kModeRecording);
    e.action = CommandAction::kStartRecording;
    e.recording = parse_recording_flags(text);
    return e;
  } else if (name == "start_playback") {
    e.data_stopped = had_data;
    go(kModePlayback);
    e.action = CommandAction::kStartPlayback;
    return e;
  } else if (name == "abort_playback") {
    if (playing_back()) go(kModeIdle);
  } else if (name == "lock_record_exit") {
    std::string_view v = value;
    while (!v.empty() && is_blank(v.back())) v.remove_suffix(1);
    lock_record_exit_ = lvx::equals_nocase(v, "yes") || v == "1";
  } else if (name == "link_update_interval") {
    int ms = std::atoi(std::string(value).c_str());
    if (ms > 0) link_interval_ms_ = ms;
  } else if (name == "link_sync_status") {
    e.action = CommandAction::kSyncStatus;
  }
  if (had_data && e.mode_changed) {
    e.data_stopped = true;
    if (e.action == CommandAction::kNone) e.action = CommandAction::kStopData;
  }
  return e;
}

PlaybackPacer::PlaybackPacer(std::vector<std::vector<uint8_t>> packets, int per_request)
    : packets_(std::move(packets)),
      per_request_(per_request < 1 ? 1u : static_cast<size_t>(per_request)) {}

std::vector<std::vector<uint8_t>> PlaybackPacer::on_request() {
  ++requests_;
  std::vector<std::vector<uint8_t>> out;
  while (next_ < packets_.size() && out.size() < per_request_) out.push_back(packets_[next_++]);
  return out;
}

}  // namespace lvxsim
