#include "control/tracker_mode.h"

#include <cstdio>

#include "control/commands.h"
#include "control/control_state.h"
#include "control/realtime.h"
#include "control/requests.h"
#include "data/stream_queries.h"
#include "link/clock.h"
#include "link/connection.h"
#include "link/link_state.h"
#include "link/transport.h"
#include "lumavex_core.h"

namespace lvx {

namespace {

constexpr uint32_t kModeCommandWaitMs = 1000;
// How long a mode change may take to settle after the tracker accepted the command.
constexpr uint32_t kSettleWaitMs = 500;
// The tracker answers "file_close_complete" with a nonzero result while it is still closing the
// recording's data file. The retries stop after this long, so that a tracker that never reports
// the file closed cannot hold the caller forever; the last result is then returned.
constexpr uint32_t kFileCloseWaitMs = 30000;
constexpr int32_t kFileCloseRetryDelayMs = 100;
// start_recording pauses this long after each data reset.
constexpr int32_t kDataResetPauseMs = 2;

// Recording flags that also decide what the link queues here: samples and events.
constexpr uint16_t kLinkSamplesBit = 0x04;
constexpr uint16_t kLinkEventsBit = 0x08;

constexpr uint16_t kPlaybackBit = 0x02;  // header byte 18: the tracker plays a recording back
constexpr uint16_t kFlagLeftEye = 0x8000;
constexpr uint16_t kFlagRightEye = 0x4000;

bool not_connected() {
  return link_record().is_connected == 0;
}
// A connection through the local relay, where another program owns the tracker link.
bool relay_connected() {
  return link_record().is_connected < 0;
}
// Listening to a tracker that another program controls: nothing may change its mode.
bool broadcast_connected() {
  return link_record().is_connected == 2;
}

// The mode-ready latch, read under the link lock that the receive thread holds while it takes
// the header echo of a packet apart.
bool mode_ready_latched() {
  LinkLockGuard lock;
  return link_record().mode_ready != 0;
}

// Waits for the tracker to settle after a mode command it accepted; a failed command skips it.
int16_t settle_after(int16_t result) {
  if (result == 0) wait_for_mode_ready(kSettleWaitMs);
  return result;
}

// True when every kind of block asked for is open.
bool asked_blocks_open(bool samples, bool events) {
  OpenBlocks open = data_open_blocks();
  return (!samples || open.samples) && (!events || open.events);
}

bool asked_data_queued(bool samples, bool events) {
  QueuedCounts q = data_queued_counts();
  return (samples && q.samples > 0) || (events && q.events > 0);
}

// Repeats "file_close_complete" until the tracker reports its data file closed. Returns 0 once
// it is, -100 when the link drops, or the last result when the tracker is still busy after
// kFileCloseWaitMs.
int16_t wait_file_closed() {
  uint32_t start = lvx::local_ms();
  for (;;) {
    int16_t result = timed_command(kModeCommandWaitMs, "file_close_complete");
    if (result == 0) return 0;
    if (not_connected()) return LINK_TERMINATED_RESULT;
    if (lvx::local_ms() - start >= kFileCloseWaitMs) return result;
    lvx::delay_ms(kFileCloseRetryDelayMs);
  }
}

}  // namespace

uint16_t mode_bits(uint16_t mode_word, uint8_t byte18, bool connected, bool dummy) {
  if (!dummy && !connected) return IN_DISCONNECT_MODE;
  const uint16_t b = (byte18 & kPlaybackBit) != 0 ? IN_PLAYBACK_MODE : 0;
  switch (mode_word) {
    case 1:
      return b | IN_IDLE_MODE;
    case 2:
      return IN_IMAGE_MODE | IN_SETUP_MODE;
    case 3:
    case 8:
      return b | IN_SETUP_MODE;
    case 5:
    case 6:
    case 7:
      return b | IN_USER_MENU;
    case 10:
    case 14:
      return IN_RECORD_MODE;
    case 11:
    case 12:
      return IN_TARGET_MODE | IN_SETUP_MODE;
    case 13:
      return IN_DRIFTCORR_MODE | IN_TARGET_MODE | IN_SETUP_MODE;
    default:  // 4 and 9 among them, and 0xFFFF after a disconnect acknowledgement
      return b;
  }
}

std::string start_recording_text(uint16_t flags) {
  std::string text = "start_recording break data =  ";
  for (int bit : {0x01, 0x02, 0x04, 0x08}) {
    text += (flags & bit) != 0 ? '1' : '0';
    text += ',';
  }
  text += ' ';
  return text;
}

// The tracker reads the targets from a field of 20 characters, which the values an application
// passes (screen positions) always fit. Longer forms are not cut: a cut number would be a
// different, wrong position, whereas the full text lets the tracker reject what it cannot hold.
// Even two of the longest floats (about 90 characters) stay far below the shortest text limit.
std::string drift_correction_targets_text(float x, float y) {
  // The longest float in "%.3f" form has 44 characters (sign, 39 digits, point and 3 decimals),
  // so two of them and the blank always fit.
  char numbers[128];
  std::snprintf(numbers, sizeof numbers, "%.3f %.3f", static_cast<double>(x),
                static_cast<double>(y));
  return std::string("drift_correction_targets = ") + numbers;
}

bool wraps(uint32_t now, uint32_t maxwait) {
  return maxwait > UINT32_MAX - now;
}

int16_t eye_from_flags(uint16_t flags, int16_t remembered) {
  if ((flags & kFlagLeftEye) != 0) return (flags & kFlagRightEye) != 0 ? 2 : 0;
  if ((flags & kFlagRightEye) != 0) return 1;
  return remembered;
}

// The version is compared as the float it is read into, so that a tracker reporting exactly
// "3.1" qualifies (3.1 read as a float lies just below the double 3.1).
bool needs_file_close_complete(int generation, const char *version_text) {
  if (generation < 3 || version_text == nullptr) return false;
  float version = 0;
  if (std::sscanf(version_text, "%*s %*s %f", &version) != 1) return false;
  return version >= 3.1f;
}

// ---- Mode changes ----

int16_t abort_to_idle() {
  LinkRecord &r = link_record();
  if (dummy_mode()) {
    r.mode_word = kModeIdle;
    return 0;
  }
  if (quiet_level() != 0 || r.mode_word == kModeIdle) return 0;
  return settle_after(timed_command(kModeCommandWaitMs, "set_idle_mode"));
}

// The one meaning of going offline: a trial's time-critical phase is over (real-time mode ends)
// and the tracker returns to idle, with the settle wait of every mode change, so that whoever
// goes on (closing the file, a setup screen, the next connection) finds the tracker idle.
int16_t set_offline() {
  end_realtime();
  return abort_to_idle();
}

int16_t start_setup() {
  ControlState &c = control_state();
  c.target_visible = 0;
  if (dummy_mode()) link_record().mode_word = kModeSetup;
  const char *command = c.setup_default != 0 ? "set_imaging_mode" : "setup_menu_mode";
  return settle_after(timed_command(kModeCommandWaitMs, command));
}

int16_t set_setup_default(int16_t mode) {
  control_state().setup_default = mode;
  return mode;
}

int16_t accept_trigger() {
  return timed_command(kModeCommandWaitMs, "accept_target_fixation");
}

int16_t start_drift_correction(float x, float y) {
  ControlState &c = control_state();
  c.target_visible = 0;
  {
    LinkLockGuard lock;
    c.cal_result = static_cast<int16_t>(kNoReplyYet);
    c.cal_message[0] = '\0';
  }
  // The targets command's own result does not matter: the start command that follows fails in
  // the same way when the link does.
  timed_command(kModeCommandWaitMs, drift_correction_targets_text(x, y).c_str());
  return settle_after(timed_command(kModeCommandWaitMs, "start_drift_correction data=0,0,0,0"));
}

int16_t apply_drift_correction() {
  return timed_command(kModeCommandWaitMs, "apply_last_drift_correction 1.0");
}

// Bits 0x01 and 0x02 (samples and events to the tracker's file) only travel in the command; what
// they do is the tracker's business. Bits 0x04 and 0x08 also decide what the link queues here.
int16_t start_recording(uint16_t flags, bool lock_exit) {
  timed_command(kModeCommandWaitMs, lock_exit ? "lock_record_exit = YES" : "lock_record_exit = NO");
  reset_data_stream(true);
  delay_ms(kDataResetPauseMs);
  std::string text = start_recording_text(flags);
  set_data_acceptance((flags & kLinkSamplesBit) != 0, (flags & kLinkEventsBit) != 0);
  reset_data_stream(true);
  delay_ms(kDataResetPauseMs);
  if (dummy_mode()) link_record().mode_word = kModeRecording;
  return timed_command(kModeCommandWaitMs, text.c_str());
}

int16_t stop_recording() {
  set_data_acceptance(false, false);
  return abort_to_idle();
}

int16_t start_playback() {
  if (broadcast_connected() || quiet_level() != 0 || not_connected()) {
    return LINK_TERMINATED_RESULT;
  }
  // Trackers from 3.1 on refuse to play back a file that they are still closing. Through the
  // relay the program that owns the link has closed it.
  if (!relay_connected()) {
    char version[40] = {};
    int generation = tracker_version(version);
    if (needs_file_close_complete(generation, version)) {
      int16_t closed = wait_file_closed();
      if (closed != 0) return closed;
    }
  }

  set_data_acceptance(false, false);
  abort_to_idle();
  reset_data_stream(true);
  set_data_acceptance(true, true);
  reset_data_stream(true);
  ControlState &c = control_state();
  c.playback = true;

  int16_t result = timed_command(kModeCommandWaitMs, "start_playback");
  if (result != 0) {
    c.playback = false;
    return result;
  }
  // The first request for playback data; the data queue asks for more as the reader drains it.
  if (c.playback) {
    send_playback_request();
    wait_for_packet();
  }
  return 0;
}

int16_t stop_playback() {
  if (broadcast_connected() || quiet_level() != 0 || not_connected()) {
    return LINK_TERMINATED_RESULT;
  }
  control_state().playback = false;
  set_data_acceptance(false, false);
  reset_data_stream(true);
  return timed_command(kModeCommandWaitMs, "abort_playback");
}

// ---- Mode queries ----

uint16_t current_mode_bits() {
  LinkRecord &r = link_record();
  return mode_bits(r.mode_word, r.mode_code, r.is_connected != 0, dummy_mode());
}

int16_t in_setup() {
  if (!system_open()) return 0;
  return static_cast<int16_t>(current_mode_bits() & IN_SETUP_MODE);
}

int16_t wait_for_mode_ready(uint32_t maxwait) {
  LinkRecord &r = link_record();
  if (dummy_mode()) return 1;
  if (!system_open() || not_connected()) return LINK_TERMINATED_RESULT;
  if (maxwait == 0) return mode_ready_latched() ? 1 : 0;
  uint32_t start = local_ms();
  if (wraps(start, maxwait)) return 0;
  while (local_ms() - start < maxwait) {
    if (not_connected()) return LINK_TERMINATED_RESULT;
    if (mode_ready_latched()) return 1;
    // The lock-free look only cuts the wait short; the next pass reads the latch properly.
    wait_for_packet_unless([&] { return r.mode_ready.load() != 0; });
    if (not_connected()) return -1;
  }
  return 0;
}

int16_t eye_available() {
  if (dummy_mode()) return 2;
  if (!system_open()) return LINK_TERMINATED_RESULT;
  if ((current_mode_bits() & (IN_RECORD_MODE | IN_PLAYBACK_MODE)) == 0) return -1;
  ControlState &c = control_state();
  int16_t eye = eye_from_flags(data_flags().packet_flags, c.remembered_eye);
  c.remembered_eye = eye;
  return eye;
}

// ---- Data-stream queries ----

int16_t data_count(bool samples, bool events) {
  if (dummy_mode() || !system_open()) return 0;
  QueuedCounts q = data_queued_counts();
  int n = (samples ? q.samples : 0) + (events ? q.events : 0);
  return static_cast<int16_t>(n > INT16_MAX ? INT16_MAX : n);
}

uint16_t sample_data_flags() {
  if (dummy_mode()) return 0xFFFF;
  if (!system_open()) return 0;
  return data_flags().sample_data;
}

uint16_t event_type_flags() {
  if (dummy_mode()) return 0xFFFF;
  if (!system_open()) return 0;
  return data_flags().event_type;
}

int16_t event_data_flags() {
  if (dummy_mode()) return -1;
  if (!system_open()) return 0;
  return static_cast<int16_t>(data_flags().event_data);
}

int16_t position_prescaler() {
  if (dummy_mode() || !system_open()) return 10;
  return static_cast<int16_t>(data_flags().position_prescaler);
}

int16_t in_data_block(bool samples, bool events) {
  if (dummy_mode()) return 1;
  if (!system_open()) return 0;
  OpenBlocks open = data_open_blocks();
  return ((samples && open.samples) || (events && open.events)) ? 1 : 0;
}

// The block flags change as the block markers are taken from the queue, so between passes this
// takes the next item as the reader would (the markers, and whatever came before them), waiting
// one round at most when nothing is queued.
int16_t wait_for_block_start(uint32_t maxwait, bool samples, bool events) {
  if (!system_open()) return 0;
  uint32_t start = local_ms();
  if (wraps(start, maxwait)) return 0;
  for (;;) {
    if (dummy_mode()) return 1;
    if (not_connected()) return LINK_TERMINATED_RESULT;
    if (asked_blocks_open(samples, events)) return 1;
    if (local_ms() - start >= maxwait) return 0;
    take_next_data_item(1);
  }
}

int16_t wait_for_data(uint32_t maxwait, bool samples, bool events) {
  uint32_t start = local_ms();
  if (wraps(start, maxwait)) return 0;
  for (;;) {
    if (dummy_mode()) return 1;
    if (not_connected()) return LINK_TERMINATED_RESULT;
    if (asked_data_queued(samples, events)) return 1;
    if (local_ms() - start >= maxwait) return 0;
    wait_for_packet_unless([&] { return asked_data_queued(samples, events); });
  }
}

}  // namespace lvx
