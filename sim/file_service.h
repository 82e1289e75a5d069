// The simulated tracker's files: the TCP file service ("GET", "PUT", and the video-folder
// listing and download "QXGETVS" / "QXGETVF") and the link block transfer of FILE_PKTs started by
// "start_file_transfer" and paced by the display's type-60 acknowledgements. Both serve whatever
// files lie in the tracker's data folder; uploads land in its "recv" subfolder and a recording's
// eye-video files sit in "vfiles/<recording>/". Every transfer can be given a fault.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/net.h"

namespace lvxsim {

class SimTracker;
struct ReceivedPacket;

// Faults for later transfers (set with SimTracker::set_file_faults).
struct FileFaults {
  // File service: close the connection after this many file bytes (-1: never).
  int64_t drop_after_bytes = -1;
  // File service and link: stop sending, keeping the connection, after this many bytes.
  int64_t stall_after_bytes = -1;
  bool wrong_checksum = false;  // announce a checksum one off the right one
  int64_t size_delta = 0;       // announce the size plus this
  bool not_found = false;       // answer every request as if the file did not exist
  // Announce this name instead of the file's own (GET_Ready, the link's file information, the
  // video listing's folder); hostile-name tests put paths and control characters here.
  std::optional<std::string> reply_name;
  bool refuse_put = false;  // answer uploads with "PUT_Error"
  // Uploads: stop reading after this many bytes, keeping the connection (-1: never).
  int64_t stall_upload_after_bytes = -1;
  // Link: send this error code (-113..-110) instead of the data once link_error_after bytes have
  // gone (0: no error).
  int16_t link_error = 0;
  int64_t link_error_after = 0;
  // File service: after the reply, send the file one byte every this many ms (0: at once).
  int trickle_ms = 0;
  // File service: send each reply in two segments, this many ms apart (0: whole).
  int split_reply_ms = 0;
  // File service: accept an upload, then read nothing more, keeping the connection, until the
  // tracker stops.
  bool stop_reading_upload = false;
  // The faults of a file download (not_found, wrong_checksum, drop_after_bytes,
  // stall_after_bytes, trickle_ms) apply only to the file of this name, when set.
  std::optional<std::string> only_file;
  // The video listing names these files (';'-separated) instead of the folder's own.
  std::optional<std::string> video_names;
  // Link: announce the file again after every block it sends.
  bool reannounce_each_block = false;
};

// Counts for tests.
struct FileStats {
  uint64_t service_requests = 0;
  uint64_t link_blocks_sent = 0;
  uint64_t link_acks = 0;
  uint64_t link_windows = 0;
};

// CRC-32 as the file service announces it (polynomial 0x04C11DB7, most significant bit first,
// initial 0, no final complement), one byte at a time.
uint32_t service_checksum(const uint8_t *data, size_t size, uint32_t crc = 0);

class FileService {
 public:
  explicit FileService(SimTracker &owner);
  ~FileService();
  FileService(const FileService &) = delete;
  FileService &operator=(const FileService &) = delete;

  // Binds the service's port (0: the system chooses). False with a reason on failure.
  bool start(const std::array<uint8_t, 4> &ip, uint16_t port, std::string *error);
  void stop();
  uint16_t port() const { return port_; }

  void set_faults(const FileFaults &f);
  FileFaults faults() const;
  FileStats stats() const;

  // Waits (at most timeout_ms) until no upload is being received; false on time-out.
  bool wait_for_uploads(int timeout_ms);

  // The link side: looks at a command packet (receive thread) and returns true when it was a
  // file-transfer packet fully handled here (an acknowledgement, or a start that was answered).
  bool on_command(const ReceivedPacket &p);

 private:
  struct Loaded {
    std::vector<uint8_t> bytes;
    std::string time;
    uint32_t checksum = 0;
  };
  void serve_loop();
  void serve_one(lvx::platform::Socket &s);
  void send_file(lvx::platform::Socket &s, const std::string &path, const std::string &name);
  // Sends a reply with its zero byte (and any bytes that follow it), split as the faults say.
  bool send_reply(lvx::platform::Socket &s, const std::string &text,
                  const std::vector<uint8_t> &after = {});
  // Holds a connection without reading until the tracker stops.
  void hold(lvx::platform::Socket &s);
  void receive_upload(lvx::platform::Socket &s, const std::string &request);
  void list_videos(lvx::platform::Socket &s, const std::string &base);
  // The file's bytes, time and checksum; nothing when missing. The last file served is kept
  // (by path, size and time), so that serving it again costs what a tracker's send costs.
  std::shared_ptr<const Loaded> load(const std::string &path);
  void send_link_window(int64_t offset);

  SimTracker &owner_;
  lvx::platform::Socket listener_;
  uint16_t port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mu_;
  FileFaults faults_;
  FileStats stats_;
  int uploading_ = 0;  // mu_
  std::condition_variable uploads_done_;
  std::string cached_path_;
  std::pair<uint64_t, int64_t> cached_key_{};
  std::shared_ptr<const Loaded> cached_;
  // Link transfer (receive thread).
  std::vector<uint8_t> link_bytes_;
  bool link_active_ = false;
  int link_window_ = 1;
  int64_t link_sent_until_ = 0;
  std::vector<uint8_t> link_info_;  // the file-information packet of the transfer
  std::chrono::steady_clock::time_point link_sent_at_{};
};

}  // namespace lvxsim
