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

// How long the service may take for one step of a transfer (60000 ms; tests shorten it).
int file_service_wait_ms();
void set_file_service_wait_ms_for_testing(int ms);

// The time a transfer over the file service may still wait. Each step (the connect, a request
// and its reply, each whole buffer of 16384 bytes or the rest of the file, each upload block)
// must be done within the service wait, however the peer spreads its bytes: a service that
// trickles a byte every few seconds, or stops reading an upload, is given up on once a step has
// taken the whole wait. A shared wait is one wait for every step of several transfers (the files
// of a video folder), renewed only when a whole buffer of 16384 bytes has arrived.
class ServiceWait {
 public:
  explicit ServiceWait(bool shared = false, int wait_ms = file_service_wait_ms());
  // A new step: a private wait starts afresh, a shared one goes on.
  void begin_step();
  // A whole 16384-byte buffer arrived: a shared wait starts afresh.
  void whole_buffer_moved();
  // Microseconds left (0 once spent).
  int64_t left_us() const;
  bool spent() const { return left_us() == 0; }

 private:
  bool shared_;
  int wait_ms_;
  int64_t deadline_ns_;
};

// Opens a connection to the file service of host (dotted text; null or empty: the connected
// tracker), within the wait. 0 with the socket (non-blocking) in *out, or -6 the tracker has no
// file service, -7 no socket, -8 the socket cannot be made non-blocking, -9 connect failed or
// did not complete within the wait.
int open_ftpd_socket(const char *host, platform::Socket *out, ServiceWait &wait);

// Asks the service for the video files of recording `base` ("QXGETVS <base>") and receives the
// listing's text, waiting up to twice the service wait (120 s) for it. 0, or -1 no connection,
// -4 no reply.
int request_video_list(const std::string &base, std::string *reply);

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
// and a result of LUMAVEX_PROGRESS_CANCEL cancels (-3). `wait` is the folder's shared wait.
int32_t receive_video_file_ftpd(const std::string &base, const std::string &name,
                                const std::string &dest, download_progress_fn progress,
                                ServiceWait &wait);

// Uploads. Results as the exported send_data_file_feedback and send_data_file_mem. A file (or
// block) of 2 GiB or more is refused before anything is sent (the service reads sizes as signed
// 32-bit numbers), as is a host name with a control character.
int32_t send_file_to_tracker(const char *src, const char *dest, upload_progress_fn progress);
int32_t send_memory_to_tracker(const void *data, const char *dest, uint32_t size,
                               upload_progress_fn progress);

}  // namespace lvx
