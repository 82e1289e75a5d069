// The download entry points: the choice between the tracker's file service and the link by the
// tracker's generation and version, and, for trackers that record eye video beside a recording,
// the download of the recording and its video folder into a private temporary folder from which
// both are moved into place without overwriting anything the user has.
#pragma once

#include <atomic>
#include <cstdint>

#include "lumavex_core.h"

namespace lvx {

// The downloads' process-wide record: the 32-bit callback of receive_data_file_feedback, written
// by the application thread that calls it (one download at a time) and read by the adapter on the
// same thread.
struct DownloadRecord {
  std::atomic<download_progress32_fn> progress32{nullptr};
};
DownloadRecord &download_record();

int32_t receive_file(const char *src, const char *dest, int32_t options,
                     download_progress_fn progress);
// receive_data_file_feedback: the 32-bit callback is held in a process-wide slot for the call.
int32_t receive_file_32(const char *src, const char *dest, int16_t dest_is_path,
                        download_progress32_fn progress);

}  // namespace lvx
