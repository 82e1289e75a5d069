#include "control/tracker_mode.h"

#include <cstdio>
#include <mutex>

#include "common/c_boundary.h"
#include "control/commands.h"
#include "control/control_state.h"
#include "control/requests.h"
#include "data/data_stream.h"
#include "link/clock.h"
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
// lumavex_data_start pauses this long after each data reset.
constexpr int32_t kDataResetPauseMs = 2;

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
  if (result == 0) lumavex_wait_for_mode_ready(kSettleWaitMs);
  return result;
}

void set_link_acceptance(bool samples, bool events) {
  DataStream &d = data_stream();
  d.samples_on = samples;
  d.events_on = events;
}

bool asked_blocks_open(int16_t samples, int16_t events) {
  DataStream &d = data_stream();
  std::lock_guard lock(d.data_lock);
  return (samples == 0 || d.status.in_sample_block != 0) &&
         (events == 0 || d.status.in_event_block != 0);
}

struct QueuedCounts {
  int samples = 0;
  int events = 0;
};

// The queued counts as lumavex_data_status reports them: samples only while sample acceptance
// is on, events (with block markers) only while event acceptance is on.
QueuedCounts queued_counts() {
  DataStream &d = data_stream();
  data_status_refresh();
  std::lock_guard lock(d.data_lock);
  return {d.status.queued_samples, d.status.queued_events};
}

bool asked_data_queued(int16_t samples, int16_t events) {
  QueuedCounts q = queued_counts();
  return (samples != 0 && q.samples > 0) || (events != 0 && q.events > 0);
}

// Repeats "file_close_complete" until the tracker reports its data file closed. Returns 0 once
// it is, -100 when the link drops, or the last result when the tracker is still busy after
// kFileCloseWaitMs.
int16_t wait_file_closed() {
  uint32_t start = lvx::local_ms();
  for (;;) {
    int16_t result = lumavex_timed_command(kModeCommandWaitMs, "file_close_complete");
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

}  // namespace lvx

using lvx::control_state;
using lvx::data_stream;
using lvx::dummy_mode;
using lvx::kModeCommandWaitMs;
using lvx::link_record;
using lvx::system_open;

extern "C" {

// ---- Mode changes ----

int16_t lumavex_abort(void) noexcept {
  lvx::LinkRecord &r = link_record();
  if (dummy_mode()) {
    r.mode_word = lvx::kModeIdle;
    return 0;
  }
  if (lvx::quiet_level() != 0 || r.mode_word == lvx::kModeIdle) return 0;
  return lvx::settle_after(lumavex_timed_command(kModeCommandWaitMs, "set_idle_mode"));
}

int16_t lumavex_start_setup(void) noexcept {
  lvx::ControlState &c = control_state();
  c.target_visible = 0;
  if (dummy_mode()) link_record().mode_word = lvx::kModeSetup;
  const char *command = c.setup_default != 0 ? "set_imaging_mode" : "setup_menu_mode";
  return lvx::settle_after(lumavex_timed_command(kModeCommandWaitMs, command));
}

int16_t lumavex_set_tracker_setup_default(int16_t mode) noexcept {
  control_state().setup_default = mode;
  return mode;
}

int16_t lumavex_accept_trigger(void) noexcept {
  return lumavex_timed_command(kModeCommandWaitMs, "accept_target_fixation");
}

int16_t lumavex_driftcorr_startf(float x, float y) noexcept {
  lvx::ControlState &c = control_state();
  c.target_visible = 0;
  {
    lvx::LinkLockGuard lock;
    c.cal_result = static_cast<int16_t>(lvx::kNoReplyYet);
    c.cal_message[0] = '\0';
  }
  return lvx::at_c_boundary<int16_t>(LINK_TERMINATED_RESULT, [&] {
    // The targets command's own result does not matter: the start command that follows fails
    // in the same way when the link does.
    lumavex_timed_command(kModeCommandWaitMs, lvx::drift_correction_targets_text(x, y).c_str());
    return lvx::settle_after(
        lumavex_timed_command(kModeCommandWaitMs, "start_drift_correction data=0,0,0,0"));
  });
}

int16_t lumavex_driftcorr_start(int16_t x, int16_t y) noexcept {
  return lumavex_driftcorr_startf(static_cast<float>(x), static_cast<float>(y));
}

int16_t lumavex_apply_driftcorr(void) noexcept {
  return lumavex_timed_command(kModeCommandWaitMs, "apply_last_drift_correction 1.0");
}

// Bits 0x01 and 0x02 (samples and events to the tracker's file) only travel in the command; what
// they do is the tracker's business. Bits 0x04 and 0x08 also decide what the link queues here.
int16_t lumavex_data_start(uint16_t flags, int16_t lock) noexcept {
  lumavex_timed_command(kModeCommandWaitMs,
                        lock != 0 ? "lock_record_exit = YES" : "lock_record_exit = NO");
  lumavex_reset_data(1);
  lvx::delay_ms(lvx::kDataResetPauseMs);
  return lvx::at_c_boundary<int16_t>(LINK_TERMINATED_RESULT, [&] {
    std::string text = lvx::start_recording_text(flags);
    lvx::set_link_acceptance((flags & 0x04) != 0, (flags & 0x08) != 0);
    lumavex_reset_data(1);
    lvx::delay_ms(lvx::kDataResetPauseMs);
    if (dummy_mode()) link_record().mode_word = lvx::kModeRecording;
    return lumavex_timed_command(kModeCommandWaitMs, text.c_str());
  });
}

int16_t lumavex_data_stop(void) noexcept {
  lvx::set_link_acceptance(false, false);
  return lumavex_abort();
}

int16_t lumavex_playback_start(void) noexcept {
  if (lvx::broadcast_connected() || lvx::quiet_level() != 0 || lvx::not_connected()) {
    return LINK_TERMINATED_RESULT;
  }
  // Trackers from 3.1 on refuse to play back a file that they are still closing. Through the
  // relay the program that owns the link has closed it.
  if (!lvx::relay_connected()) {
    char version[40] = {};
    int16_t generation = lumavex_get_tracker_version(version);
    if (lvx::needs_file_close_complete(generation, version)) {
      int16_t closed = lvx::wait_file_closed();
      if (closed != 0) return closed;
    }
  }

  lvx::set_link_acceptance(false, false);
  lumavex_abort();
  lumavex_reset_data(1);
  lvx::set_link_acceptance(true, true);
  lumavex_reset_data(1);
  lvx::ControlState &c = control_state();
  c.playback = true;

  int16_t result = lumavex_timed_command(kModeCommandWaitMs, "start_playback");
  if (result != 0) {
    c.playback = false;
    return result;
  }
  // The first request for playback data; the data queue asks for more as the reader drains it.
  if (c.playback) {
    lvx::send_playback_request();
    lvx::wait_for_packet();
  }
  return 0;
}

int16_t lumavex_playback_stop(void) noexcept {
  if (lvx::broadcast_connected() || lvx::quiet_level() != 0 || lvx::not_connected()) {
    return LINK_TERMINATED_RESULT;
  }
  control_state().playback = false;
  lvx::set_link_acceptance(false, false);
  lumavex_reset_data(1);
  return lumavex_timed_command(kModeCommandWaitMs, "abort_playback");
}

// ---- Mode queries ----

int16_t lumavex_current_mode(void) noexcept {
  lvx::LinkRecord &r = link_record();
  return static_cast<int16_t>(
      lvx::mode_bits(r.mode_word, r.mode_code, r.is_connected != 0, dummy_mode()));
}

int16_t lumavex_in_setup(void) noexcept {
  if (!system_open()) return 0;
  return static_cast<int16_t>(lumavex_current_mode() & IN_SETUP_MODE);
}

int16_t lumavex_wait_for_mode_ready(uint32_t maxwait) noexcept {
  lvx::LinkRecord &r = link_record();
  if (dummy_mode()) return 1;
  if (!system_open() || lvx::not_connected()) return LINK_TERMINATED_RESULT;
  if (maxwait == 0) return lvx::mode_ready_latched() ? 1 : 0;
  uint32_t start = lvx::local_ms();
  if (lvx::wraps(start, maxwait)) return 0;
  while (lvx::local_ms() - start < maxwait) {
    if (lvx::not_connected()) return LINK_TERMINATED_RESULT;
    if (lvx::mode_ready_latched()) return 1;
    // The lock-free look only cuts the wait short; the next pass reads the latch properly.
    lvx::wait_for_packet_unless([&] { return r.mode_ready.load() != 0; });
    if (lvx::not_connected()) return -1;
  }
  return 0;
}

int16_t lumavex_eye_available(void) noexcept {
  if (dummy_mode()) return 2;
  if (!system_open()) return LINK_TERMINATED_RESULT;
  if ((lumavex_current_mode() & (IN_RECORD_MODE | IN_PLAYBACK_MODE)) == 0) return -1;
  lvx::DataStream &d = data_stream();
  uint16_t flags;
  {
    std::lock_guard lock(d.data_lock);
    flags = d.status.packet_flags;
  }
  lvx::ControlState &c = control_state();
  int16_t eye = lvx::eye_from_flags(flags, c.remembered_eye);
  c.remembered_eye = eye;
  return eye;
}

// ---- Data-stream queries ----

int16_t lumavex_data_count(int16_t samples, int16_t events) noexcept {
  if (dummy_mode() || !system_open()) return 0;
  lvx::QueuedCounts q = lvx::queued_counts();
  int n = (samples != 0 ? q.samples : 0) + (events != 0 ? q.events : 0);
  return static_cast<int16_t>(n > INT16_MAX ? INT16_MAX : n);
}

uint16_t lumavex_sample_data_flags(void) noexcept {
  if (dummy_mode()) return 0xFFFF;
  if (!system_open()) return 0;
  lvx::DataStream &d = data_stream();
  std::lock_guard lock(d.data_lock);
  return d.status.sample_data_flags;
}

uint16_t lumavex_event_type_flags(void) noexcept {
  if (dummy_mode()) return 0xFFFF;
  if (!system_open()) return 0;
  lvx::DataStream &d = data_stream();
  std::lock_guard lock(d.data_lock);
  return d.status.event_type_flags;
}

int16_t lumavex_event_data_flags(void) noexcept {
  if (dummy_mode()) return -1;
  if (!system_open()) return 0;
  lvx::DataStream &d = data_stream();
  std::lock_guard lock(d.data_lock);
  return static_cast<int16_t>(d.status.event_data_flags);
}

int16_t lumavex_position_prescaler(void) noexcept {
  if (dummy_mode() || !system_open()) return 10;
  lvx::DataStream &d = data_stream();
  std::lock_guard lock(d.data_lock);
  return static_cast<int16_t>(d.status.position_prescaler);
}

int16_t lumavex_in_data_block(int16_t samples, int16_t events) noexcept {
  if (dummy_mode()) return 1;
  if (!system_open()) return 0;
  lvx::DataStream &d = data_stream();
  std::lock_guard lock(d.data_lock);
  return ((samples != 0 && d.status.in_sample_block != 0) ||
          (events != 0 && d.status.in_event_block != 0))
             ? 1
             : 0;
}

// Between passes this waits for the next packet rather than reading the next queued item: the
// caller asked whether a block has started, not for data, and items taken here would be lost to
// it. Block markers are seen by the receive thread as they arrive, so a packet wait is enough to
// notice the opening.
int16_t lumavex_wait_for_block_start(uint32_t maxwait, int16_t samples, int16_t events) noexcept {
  if (!system_open()) return 0;
  uint32_t start = lvx::local_ms();
  if (lvx::wraps(start, maxwait)) return 0;
  for (;;) {
    if (dummy_mode()) return 1;
    if (lvx::not_connected()) return LINK_TERMINATED_RESULT;
    if (lvx::asked_blocks_open(samples, events)) return 1;
    if (lvx::local_ms() - start >= maxwait) return 0;
    // The block flags change as the block markers are read from the queue, so read: this takes
    // the markers (and whatever came before them) as the reader would, waiting one round at
    // most when nothing is queued.
    lumavex_wait_for_next_data(nullptr, 0, 1);
  }
}

int16_t lumavex_wait_for_data(uint32_t maxwait, int16_t samples, int16_t events) noexcept {
  uint32_t start = lvx::local_ms();
  if (lvx::wraps(start, maxwait)) return 0;
  for (;;) {
    if (dummy_mode()) return 1;
    if (lvx::not_connected()) return LINK_TERMINATED_RESULT;
    if (lvx::asked_data_queued(samples, events)) return 1;
    if (lvx::local_ms() - start >= maxwait) return 0;
    lvx::wait_for_packet_unless([&] { return lvx::asked_data_queued(samples, events); });
  }
}

}  // extern "C"
