#include "recording/recording.h"

#include <atomic>
#include <optional>
#include <string>

#include "control/commands.h"
#include "control/input.h"
#include "control/keys.h"
#include "control/messages.h"
#include "control/realtime.h"
#include "control/requests.h"
#include "control/tracker_mode.h"
#include "display/setup_loops.h"
#include "hooks/graphic_hooks.h"
#include "link/alert.h"
#include "link/clock.h"
#include "link/connection.h"
#include "link/log.h"
#include "link/transport.h"
#include "lumavex_core.h"
#include "recording/file_names.h"

namespace lvx {

namespace {

constexpr uint32_t kFileCommandWaitMs = 10000;
constexpr uint32_t kStartSettleMs = 500;
// How long start_recording waits for the link data it asked for.
constexpr uint32_t kFirstDataWaitMs = 300;
constexpr uint32_t kMenuCommandWaitMs = 500;
// The result a file transfer gives for a block that never came; open_data_file takes it, like
// NO_REPLY, for a tracker that is still busy with the file.
constexpr int16_t kNoReplyTransfer = -112;
// Keys below this are "no key" (0) and "not a key" (1).
constexpr uint32_t kFirstRealKey = 2;
constexpr uint8_t kKeyStatePassed = 10;
// Trackers before this generation need their heuristic filter switched back on after a trial.
constexpr int kFilterGeneration = 2;

// Recording flags of start_recording.
constexpr uint16_t kFileSamples = 0x01, kFileEvents = 0x02, kLinkSamples = 0x04, kLinkEvents = 0x08;

// The abort menu's entries as the tracker reports the selection.
constexpr int16_t kSelectEntry2 = 2, kSelectEntry3 = 3, kSelectEntry4 = 4;

void restore_heuristic_filter() {
  char version[40] = {};
  if (tracker_version(version) < kFilterGeneration) send_command_pieces("heuristic_filter = ON");
}

bool link_data_arrived(bool samples, bool events) {
  return (!samples || data_count(true, false) > 0) && (!events || data_count(false, true) > 0);
}

}  // namespace

// ---- The recording file ----

int16_t open_tracker_file(const char *name) {
  const bool long_option = recording_state().long_names != 0;
  if (std::optional<std::string> problem =
          data_file_name_problem(name != nullptr ? name : "", long_option)) {
    alert_text(problem->c_str());
    return -1;
  }
  // Sent once the name is known to be good, so that a refused name sends nothing at all.
  if (long_option) send_command_pieces("long_filename_enabled = YES");
  abort_to_idle();
  const std::string command = open_data_file_command(name);
  const int16_t result = timed_command(kFileCommandWaitMs, command.c_str());
  if (result == NO_REPLY || result == kNoReplyTransfer) {
    log_printf("NO REPLY to command \"%s\"\n", command.c_str());
    return 0;
  }
  return result;
}

int16_t close_tracker_file() {
  return timed_command(kFileCommandWaitMs, "close_data_file");
}

int16_t set_library_options(const char *text) {
  long value = recording_state().long_names;
  const int16_t result = apply_library_options(text, &value);
  recording_state().long_names = value;
  if (result < 0)
    console_printf("displayAPI: %s %d Error parsing options\n", __FILE_NAME__, __LINE__);
  return result;
}

long long_name_option() {
  return recording_state().long_names;
}

// ---- Trials ----

int16_t record_start(int16_t file_samples, int16_t file_events, int16_t link_samples,
                     int16_t link_events) {
  const int16_t connection = connection_state();
  if (connection == 0) return kRecordingAborted;
  if (connection == -1) return kRecordingRuns;

  uint16_t flags = 0;
  if (file_samples != 0) flags |= kFileSamples;
  if (file_events != 0) flags |= kFileEvents;
  if (link_samples != 0) flags |= kLinkSamples;
  if (link_events != 0) flags |= kLinkEvents;
  const int16_t started = start_recording(flags, true);
  if (started != 0) {
    log_printf("start_recording failed. (1)\n");
    return started;
  }
  if (wait_for_mode_ready(kStartSettleMs) == 0) {
    log_printf("start_recording failed. (2)\n");
    return kRecordingFailed;
  }
  int16_t check = record_check();
  if (check != 0) {
    log_printf("start_recording failed. (3)\n");
    return check;
  }
  if (connection_state() < 0) return kRecordingRuns;

  const bool samples = link_samples != 0;
  const bool events = link_events != 0;
  const uint32_t start = local_ms();
  while (local_ms() - start < kFirstDataWaitMs) {
    check = record_check();
    if (check != 0) {
      log_printf("start_recording failed. (4)\n");
      return check;
    }
    if (link_data_arrived(samples, events)) return kRecordingRuns;
    wait_for_packet();
  }
  log_printf("start_recording failed. (5)\n");
  // Events come only when the eye does something; a recording that asked for no samples is
  // running all the same.
  if (events && !samples && record_check() == 0) return kRecordingRuns;
  record_stop();
  end_realtime();
  return kRecordingFailed;
}

int16_t record_check() {
  const int16_t connection = connection_state();
  if (connection == 0) {
    end_realtime();
    return kRecordingAborted;
  }
  const uint16_t mode = current_mode_bits();
  if (connection == -1 || (mode & IN_RECORD_MODE) != 0) return kRecordingRuns;
  end_realtime();
  restore_heuristic_filter();
  if ((mode & IN_USER_MENU) == 0) {
    // The tracker left recording on its own.
    abort_to_idle();
    return kRecordingFailed;
  }
  send_message("TRIAL ABORTED", message_time_after(0));
  return record_abort_handler();
}

int16_t record_check_exit() {
  end_realtime();
  if ((current_mode_bits() & IN_USER_MENU) != 0) return record_abort_handler();
  return kRecordingRuns;
}

int16_t record_stop() {
  end_realtime();
  restore_heuristic_filter();
  return abort_to_idle();
}

int16_t record_abort_handler() {
  hook_hide_for_abort_menu();
  for (;;) {
    const uint32_t key = pump_and_read_key(nullptr);
    if (key >= kFirstRealKey) {
      if (key == TERMINATE_KEY) break;
      send_keybutton(static_cast<uint16_t>(key), 0, kKeyStatePassed);
    }
    const uint16_t mode = current_mode_bits();
    if ((mode & IN_DISCONNECT_MODE) != 0) {
      end_realtime();
      return kRecordingAborted;
    }
    if ((mode & IN_TARGET_MODE) != 0) {
      end_realtime();
      target_screen();
    } else if ((mode & IN_IMAGE_MODE) != 0) {
      end_realtime();
      camera_screen(false);
    } else if ((mode & IN_USER_MENU) != 0) {
      end_realtime();
      const int16_t selection = take_user_menu_selection();
      if (selection == kSelectEntry2) return kMenuEntry2;
      if (selection == kSelectEntry3) return kMenuEntry3;
      if (selection == kSelectEntry4) break;
      // Until the operator chooses, wait for the tracker rather than spin.
      wait_for_packet();
    } else if ((mode & IN_SETUP_MODE) != 0) {
      wait_for_packet();
    } else {
      end_realtime();
      timed_command(kMenuCommandWaitMs, "display_user_menu 1");
    }
  }
  abort_to_idle();
  return kRecordingAborted;
}

}  // namespace lvx
