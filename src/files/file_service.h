// The client of the tracker's TCP file service: one connection per transfer, one request, one
// reply, then the file's bytes. Downloads ("GET") land in a temporary file beside the final name
// and are renamed into place only when size and checksum are right; uploads ("PUT") send a local
// file or a block of memory. All of it runs on the caller's thread, one transfer at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "lumavex_core.h"
#include "platform/net.h"

namespace lvx {

// Transfer status inside a download, turned into its result.
enum class ServiceStatus { kOk = 0, kDropped = 2, kReceiveFailed = 3, kSizeMismatch = 4 };

// The file service's process-wide record: how long the service may stay silent before a
// transfer gives up (60000 ms), which a test's application thread shortens before any transfer.
struct FileServiceRecord {
  std::atomic<int> wait_ms{60000};
};
FileServiceRecord &file_service_record();

// How long the service may stay silent before a transfer gives up (60000 ms; tests shorten it).
int file_service_wait_ms();
void set_file_service_wait_ms_for_testing(int ms);

// Opens a connection to the file service of host (dotted text; null or empty: the connected
// tracker). 0 with the socket in *out, or -6 the tracker has no file service, -7 no socket,
// -8 blocking mode cannot be set, -9 connect failed, or the failing result of setting the receive
// time-out.
int open_ftpd_socket(const char *host, platform::Socket *out);

// Reports download progress: throttled to one call per 250 ms and 2 percentage points, and
// called at once when the total is reached (never for an empty file).
class DownloadProgress {
 public:
  DownloadProgress(download_progress_fn fn, const char *src, uint64_t total);
  // Returns the callback's result, or 0 when it was not called.
  int update(uint64_t received);

 private:
  download_progress_fn fn_;
  const char *src_;
  uint64_t total_;
  bool first_ = true;
  uint32_t last_ms_ = 0;
  int last_percent_ = 0;
};

// Downloads one file: `options` 1 or 3 make dest a folder. The placed file's name goes to
// name_out (when given). Returns the bytes received (capped at 2147483647) or -1 no connection,
// -2 local file cannot be made or the service fell silent, -3 receive error, -4 no reply, size
// or checksum mismatch, -6 no such file or an unusable reply (including a name that could leave
// the folder).
int32_t receive_data_file_feedback_ftpd(const char *src, const char *dest, int options,
                                        bool replace, std::string *name_out,
                                        download_progress_fn progress);
// The same for one video file: "QXGETVF <base> <name>", never replacing; progress gets `name`
// and a result of LUMAVEX_PROGRESS_CANCEL cancels (-3).
int32_t receive_video_file_ftpd(const std::string &base, const std::string &name,
                                const std::string &dest, download_progress_fn progress);

// Uploads. Results as the exported send_data_file_feedback and send_data_file_mem.
int32_t send_file_to_tracker(const char *src, const char *dest, upload_progress_fn progress);
int32_t send_memory_to_tracker(const void *data, const char *dest, uint32_t size,
                               upload_progress_fn progress);

}  // namespace lvx
