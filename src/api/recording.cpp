// Exported recording functions: the tracker's recording file, trials, the library options and
// the file-name utilities.
#include <cstring>
#include <string>

#include "api/guard.h"
#include "lumavex_core.h"
#include "platform/files.h"
#include "recording/file_names.h"
#include "recording/recording.h"

using lvx::api::guard;
using lvx::api::guard_void;

static_assert(LVX_MAX_PATH_TEXT == lvx::kMaxPathText);
static_assert(RECORDING_RUNS == lvx::kRecordingRuns && RECORDING_FAILED == lvx::kRecordingFailed &&
              ABORT_MENU_ENTRY_2 == lvx::kMenuEntry2 && ABORT_MENU_ENTRY_3 == lvx::kMenuEntry3 &&
              RECORDING_ABORTED == lvx::kRecordingAborted);

extern "C" {

int16_t open_data_file(const char *name) noexcept {
  return guard(int16_t{-1}, [&] { return lvx::open_tracker_file(name); });
}

int16_t close_data_file(void) noexcept {
  return guard(int16_t{LINK_TERMINATED_RESULT}, [] { return lvx::close_tracker_file(); });
}

int16_t lumavex_set_options(const char *options) noexcept {
  return guard(int16_t{-1}, [&] { return lvx::set_library_options(options); });
}

int16_t start_recording(int16_t file_samples, int16_t file_events, int16_t link_samples,
                        int16_t link_events) noexcept {
  return guard(int16_t{RECORDING_FAILED}, [&] {
    return lvx::record_start(file_samples, file_events, link_samples, link_events);
  });
}

int16_t check_recording(void) noexcept {
  return guard(int16_t{RECORDING_ABORTED}, [] { return lvx::record_check(); });
}

int16_t check_record_exit(void) noexcept {
  return guard(int16_t{RECORDING_ABORTED}, [] { return lvx::record_check_exit(); });
}

int16_t stop_recording(void) noexcept {
  return guard(int16_t{LINK_TERMINATED_RESULT}, [] { return lvx::record_stop(); });
}

void splice_fname(const char *fname, const char *path, char *ffname) noexcept {
  guard_void([&] {
    if (ffname == nullptr) return;
    ffname[0] = '\0';
    if (fname == nullptr) return;
    const std::string out =
        lvx::splice_file_name(fname, path != nullptr ? path : "", lvx::platform::current_folder());
    std::memcpy(ffname, out.c_str(), out.size() + 1);
  });
}

int16_t check_filename_characters(const char *name) noexcept {
  return guard(int16_t{-1},
               [&] { return lvx::check_filename_characters(name != nullptr ? name : ""); });
}

int16_t file_exists(const char *path) noexcept {
  return guard(int16_t{-1}, [&] { return lvx::file_exists(path); });
}

int16_t create_path(char *path, int16_t create, int16_t is_dir) noexcept {
  (void)create;
  return guard(int16_t{-1}, [&] { return lvx::create_path(path, is_dir); });
}

}  // extern "C"
