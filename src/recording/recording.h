// Running trials: the tracker's recording file, starting recording with the chosen streams and
// making sure data flows, checking during a trial that recording goes on, serving the tracker's
// abort menu when the operator aborts a trial, and stopping.
//
// This folder sits above display/ because the abort menu's loop runs the target and camera
// screens when the operator goes into setup from it. Application thread only; every wait is
// bounded, and the abort-menu loop waits on packets between polls.
#pragma once

#include <atomic>
#include <cstdint>

namespace lvx {

// Recording results shared by start_recording, check_recording, check_record_exit and the
// abort-menu loop.
inline constexpr int16_t kRecordingRuns = 0;
inline constexpr int16_t kRecordingFailed = -1;
inline constexpr int16_t kMenuEntry2 = 1;
inline constexpr int16_t kMenuEntry3 = 2;
inline constexpr int16_t kRecordingAborted = 3;

// The recording's process-wide record: the long-name option, set by lumavex_set_options from
// any application thread and read by open_data_file.
struct RecordingState {
  std::atomic<long> long_names{0};
};
RecordingState &recording_state();

// open_data_file: checks the name (an alert and -1 for a refused one), idles the tracker and
// opens the file there. 0, or the command's result; no answer within 10 s counts as 0 (logged).
int16_t open_tracker_file(const char *name);
// close_data_file: the command's result (10 s at most).
int16_t close_tracker_file();
// lumavex_set_options (apply_library_options onto the long-name option).
int16_t set_library_options(const char *text);
// The long-name option.
long long_name_option();

// start_recording: 0 once recording runs and the link data asked for flows, else the failure of
// the step that failed (each logged).
int16_t record_start(int16_t file_samples, int16_t file_events, int16_t link_samples,
                     int16_t link_events);
// check_recording, check_record_exit and stop_recording.
int16_t record_check();
int16_t record_check_exit();
int16_t record_stop();
// The loop that serves the tracker's abort menu until the operator's choice: 1 or 2 for entries
// 2 and 3, 3 for entry 4, a lost link or the terminate key.
int16_t record_abort_handler();

}  // namespace lvx
