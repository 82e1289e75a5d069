#include "files/file_service.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "common/wire_reader.h"
#include "control/input.h"
#include "control/tracker_mode.h"
#include "files/checksum.h"
#include "files/host_time.h"
#include "files/local_files.h"
#include "files/service_reply.h"
#include "link/address.h"
#include "link/alert.h"
#include "link/clock.h"
#include "link/link_state.h"
#include "link/log.h"
#include "link/transport.h"
#include "platform/clock.h"

namespace lvx {

namespace {

constexpr size_t kServiceBuffer = 16384;
// Files from this size on have their checksum computed beside the receive.
constexpr uint64_t kPipeMinimum = 4 << 20;
constexpr int32_t kResultCap = 2147483647;
constexpr size_t kUploadNameLimit = 20;
constexpr size_t kUploadSourceLimit = 1024;
// The service reads sizes as signed 32-bit numbers.
constexpr uint64_t kLargestUpload = INT32_MAX;
constexpr int kDownloadThrottleMs = 250;
constexpr int kDownloadThrottlePercent = 2;
constexpr int kUploadThrottleMs = 500;
constexpr int kUploadThrottlePercent = 5;
constexpr int kVideoCancel = LUMAVEX_PROGRESS_CANCEL;

// How long the video listing may take at most (twice the service wait).
constexpr int kVideoListWaitMs = 120000;

int percent_of(uint64_t part, uint64_t total) {
  return total == 0 ? 100
                    : static_cast<int>(
                          static_cast<double>(part) / static_cast<double>(total) * 100.0 + 0.5);
}

// How a receive of a whole buffer ended.
enum class Moved { kWhole, kClosed, kTimedOut, kFailed };
struct Received {
  size_t got = 0;
  Moved how = Moved::kWhole;
  int error = 0;  // the socket error of kFailed
};

// Receives until `want` bytes have arrived (or, with stop_at_zero, a zero byte among them), the
// peer closes, the wait is spent or the socket fails. The socket does not block: the wait is
// measured over the whole buffer, not per receive, so that bytes that trickle in do not hold the
// transfer for ever.
Received receive_whole(platform::Socket &s, uint8_t *buf, size_t want, ServiceWait &wait,
                       bool stop_at_zero) {
  Received r;
  while (r.got < want) {
    int n = s.recv(buf + r.got, want - r.got);
    if (n > 0) {
      // The reply's text ends at its zero: a text shorter than what arrived has met it.
      const auto arrived = static_cast<size_t>(n);
      WireReader in(Bytes(buf + r.got, arrived));
      const bool zero = stop_at_zero && in.text_at(0, arrived).size() < arrived;
      r.got += static_cast<size_t>(n);
      if (zero) return r;
      continue;
    }
    if (n == 0) {
      r.how = Moved::kClosed;
      return r;
    }
    if (-n != platform::kSockWouldBlock && -n != platform::kSockTimedOut) {
      r.how = Moved::kFailed;
      r.error = -n;
      return r;
    }
    const int64_t left = wait.left_us();
    if (left == 0) {
      r.how = Moved::kTimedOut;
      return r;
    }
    const int ready = s.wait_readable(left);
    if (ready < 0) {
      r.how = Moved::kFailed;
      r.error = -ready;
      return r;
    }
  }
  return r;
}

// Sends a block completely within the wait; the bytes left unsent (0 on success).
size_t send_block(platform::Socket &s, const uint8_t *data, size_t size, ServiceWait &wait) {
  size_t done = 0;
  while (done < size) {
    int n = s.send(data + done, size - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n == -platform::kSockIntr) continue;
    if (n != -platform::kSockWouldBlock) break;
    const int64_t left = wait.left_us();
    if (left == 0 || s.wait_writable(left) < 0) break;
  }
  return size - done;
}

bool send_text(platform::Socket &s, const std::string &text, ServiceWait &wait) {
  return send_block(s, reinterpret_cast<const uint8_t *>(text.c_str()), text.size() + 1, wait) == 0;
}

int64_t now_ns() {
  return platform::counter_now();
}

// Receives a reply of the service: bytes until its terminating zero has arrived (with whatever
// came after it in the same receive), the buffer is full or the service closed; a reply that
// comes in several segments is read whole. The byte count, 0 when the service closed without a
// byte, -1 when the wait was spent before the reply was whole, or minus (1 + the socket error).
int receive_service_reply(platform::Socket &s, uint8_t *buf, size_t size, ServiceWait &wait) {
  Received r = receive_whole(s, buf, size, wait, true);
  // A reply cut off by the wait or an error is no reply; one the service closed after is whole.
  if (r.how == Moved::kTimedOut) return -1;
  if (r.how == Moved::kFailed) return -1 - r.error;
  return static_cast<int>(r.got);
}

// The receive loop's view of one download.
struct GetJob {
  std::string request;
  std::string src;  // for alerts and progress
  // Chooses the local path from the reply; "" refuses (the reason is logged).
  std::function<std::string(const GetReady &)> local_path;
  bool replace = false;
  download_progress_fn progress = nullptr;
  bool cancellable = false;  // a video file: the progress result can cancel
  std::string *placed = nullptr;
  ServiceWait *wait = nullptr;  // a shared wait (a video folder's); null: one of its own
};

int32_t run_get(const GetJob &job) {
  ServiceWait own;
  ServiceWait &wait = job.wait != nullptr ? *job.wait : own;
  abort_to_idle();
  wait.begin_step();
  platform::Socket sock;
  int r = open_ftpd_socket(nullptr, &sock, wait);
  if (r != 0) {
    log_printf("Failed to connect tracker ftpd. ret val %d \n", r);
    return -1;
  }
  wait.begin_step();
  if (!send_text(sock, job.request, wait)) {
    log_printf("Failed to receive reply from tracker ftpd.\n");
    return -4;
  }
  log_printf("Waiting up to %d ms for a response from the host to get file %s.\n",
             static_cast<int>(wait.left_us() / 1000), job.src.c_str());
  std::vector<uint8_t> buf(kServiceBuffer + 1);
  int n = receive_service_reply(sock, buf.data(), kServiceBuffer, wait);
  if (n <= 0) {
    log_printf("Failed to receive reply from tracker ftpd.\n");
    return -4;
  }
  buf[static_cast<size_t>(n)] = 0;
  ReplySplit split = split_reply(buf.data(), static_cast<size_t>(n));
  std::string reply(split.text);
  std::optional<GetReady> ready = parse_get_ready(reply);
  if (!ready) {
    if (reply.rfind(kGetReadyPrefix, 0) == 0)
      log_printf("receive_data_file_feedback_ftpd: unusable reply: %s\n", reply.c_str());
    else
      alert("File not found. Requested:%s Response:%s\n", job.src.c_str(), reply.c_str());
    log_printf("receive_data_file_feedback_ftp failed\n");
    return -6;
  }
  log_printf("Response from host: %s.\n", reply.c_str());
  std::string path = job.local_path(*ready);
  if (path.empty()) {
    log_printf("receive_data_file_feedback_ftp failed\n");
    return -6;
  }
  std::unique_ptr<PendingFile> out = PendingFile::open(path, job.replace);
  if (!out) {
    log_printf("open_file %s failed\n", path.c_str());
    alert("open_file %s failed.\n", path.c_str());
    return -2;
  }
  const uint64_t size = ready->size;
  std::optional<int64_t> time = parse_host_time(ready->time);
  console_printf("file_size = %llu\n", static_cast<unsigned long long>(size));

  DownloadProgress progress(size > 0 ? job.progress : nullptr, job.src.c_str(), size);
  ServiceStatus status = ServiceStatus::kOk;
  bool cancelled = false;
  uint64_t total = 0;
  uint32_t crc = 0;
  // A large file's checksum is computed on a thread of its own while the bytes arrive; the
  // bytes are then received straight into the pipe's buffers.
  std::unique_ptr<ChecksumPipe> pipe;
  if (ready->checksum != 0 && size >= kPipeMinimum) pipe = std::make_unique<ChecksumPipe>();
  auto take = [&](const uint8_t *data, size_t count) {
    size_t written = out->write(data, count);
    if (written < count) {
      log_printf("Failed to write %d bytes to file.\n", static_cast<int>(count));
      alert("Failed to write %d bytes to file.\n", static_cast<int>(count));
      status = ServiceStatus::kSizeMismatch;
    }
    if (pipe) {
      pipe->commit(written);
    } else {
      crc = crc32_update(crc, data, written);
    }
    total += written;
    int answer = progress.update(total);
    if (job.cancellable && (answer & 0xFFFF) == kVideoCancel) cancelled = true;
  };
  if (split.surplus_size > 0) {
    const uint8_t *first = buf.data() + split.surplus_offset;
    if (pipe) {
      uint8_t *into = pipe->reserve(split.surplus_size);
      std::memcpy(into, first, split.surplus_size);
      first = into;
    }
    take(first, split.surplus_size);
    log_printf("Added get response data to  qrd at start %llu \n",
               static_cast<unsigned long long>(split.surplus_size));
  }
  // Buffer by buffer: 16384 bytes, or the rest of the file, each within the wait. Once the
  // announced size is in, the service closes; bytes beyond it make the file the wrong size, and
  // the download ends there rather than taking whatever a faulty service keeps sending.
  while (!cancelled && total <= size) {
    const size_t want = total < size
                            ? static_cast<size_t>(std::min<uint64_t>(kServiceBuffer, size - total))
                            : kServiceBuffer;
    uint8_t *into = pipe ? pipe->reserve(want) : buf.data();
    wait.begin_step();
    Received got = receive_whole(sock, into, want, wait, false);
    if (got.got > 0) take(into, got.got);
    if (got.how == Moved::kWhole) {
      if (got.got == kServiceBuffer) wait.whole_buffer_moved();
      continue;
    }
    if (got.how == Moved::kClosed) break;
    if (got.how == Moved::kTimedOut) {
      log_printf("receive_data_file_feedback_ftpd: no whole buffer within %d ms\n",
                 file_service_wait_ms());
      alert("Connection disconnected.\n");
      status = ServiceStatus::kDropped;
      break;
    }
    log_printf("receive_data_file_feedback_ftpd: recv failed #%d:\n", got.error);
    console_printf("receive_data_file_feedback_ftpd: %s\n", platform::socket_error_text(got.error));
    status = ServiceStatus::kReceiveFailed;
    break;
  }
  sock.close();
  if (pipe) crc = pipe->finish();
  if (cancelled) {
    log_printf("vFile transfer cancelled by the user %d\n", kVideoCancel);
    out->discard();
    return -3;
  }
  if (status == ServiceStatus::kOk || status == ServiceStatus::kSizeMismatch) {
    if (total != size) {
      alert(
          "Received file size does not match the original file size. Received:(%llu) "
          "Original:(%llu).\n",
          static_cast<unsigned long long>(total), static_cast<unsigned long long>(size));
      status = ServiceStatus::kSizeMismatch;
    }
  }
  console_printf("total_wbytes = %llu\n", static_cast<unsigned long long>(total));
  if (status == ServiceStatus::kOk && ready->checksum != 0 && crc != ready->checksum) {
    // The bytes are not the tracker's file: keeping them under its name would pass a corrupt
    // recording off as the real one.
    log_printf(
        "Received file verification failed with check sum error calculated %u != %u with host "
        "given \n",
        crc, ready->checksum);
    alert("Failed to checksum file %s.", out->final_path().c_str());
    status = ServiceStatus::kSizeMismatch;
  }
  if (status != ServiceStatus::kOk) {
    if (!out->discard()) console_printf("Failed to remove temporary QRD %s\n", path.c_str());
    log_printf("receive_data_file_feedback_ftp failed\n");
    return -static_cast<int32_t>(status);
  }
  if (!out->commit(time)) {
    alert("open_file %s failed.\n", path.c_str());
    return -2;
  }
  if (ready->checksum != 0)
    log_printf("Received file %s is verified and check sum is %x\n", out->final_path().c_str(),
               crc);
  if (job.placed) *job.placed = out->final_path();
  log_printf("receive_data_file_feedback src %s dest %s done\n", job.src.c_str(),
             out->final_path().c_str());
  return static_cast<int32_t>(std::min<uint64_t>(total, kResultCap));
}

// Upload progress: one call per 500 ms and 5 points, and at once when all is sent.
class UploadProgress {
 public:
  UploadProgress(upload_progress_fn fn, uint32_t total) : fn_(fn), total_(total) {}
  void update(uint32_t sent) {
    if (fn_ == nullptr) return;
    int percent = percent_of(sent, total_);
    uint32_t now = local_ms();
    if (sent == total_) {
      fn_(total_, sent);
    } else if (first_) {
      first_ = false;
      last_ms_ = now;
      last_percent_ = percent;
      return;
    } else if (now - last_ms_ > kUploadThrottleMs &&
               percent - last_percent_ >= kUploadThrottlePercent) {
      last_ms_ = now;
      last_percent_ = percent;
      fn_(total_, sent);
    } else {
      return;
    }
    pump_input_events();
  }

 private:
  upload_progress_fn fn_;
  uint32_t total_;
  bool first_ = true;
  uint32_t last_ms_ = 0;
  int last_percent_ = 0;
};

// Sends the request and waits for the reply; its bytes, or nothing when none came.
std::optional<std::vector<uint8_t>> request_reply(platform::Socket &s, const std::string &text,
                                                  ServiceWait &wait) {
  wait.begin_step();
  if (!send_text(s, text, wait)) return std::nullopt;
  std::vector<uint8_t> buf(kServiceBuffer);
  int n = receive_service_reply(s, buf.data(), buf.size(), wait);
  if (n <= 0) return std::nullopt;
  buf.resize(static_cast<size_t>(n));
  return buf;
}

// A host name for an upload: 1..20 characters, none of them a control character (the name goes
// into the request's text).
bool upload_name_acceptable(const char *dest) {
  return dest != nullptr && *dest != 0 && std::strlen(dest) <= kUploadNameLimit &&
         !has_control_character(dest);
}

}  // namespace

int file_service_wait_ms() {
  return file_service_record().wait_ms.load();
}

void set_file_service_wait_ms_for_testing(int ms) {
  file_service_record().wait_ms = ms > 0 ? ms : 60000;
}

ServiceWait::ServiceWait(bool shared, int wait_ms)
    : shared_(shared), wait_ms_(wait_ms), deadline_ns_(now_ns() + int64_t{wait_ms} * 1000000) {}

void ServiceWait::begin_step() {
  if (!shared_) deadline_ns_ = now_ns() + int64_t{wait_ms_} * 1000000;
}

void ServiceWait::whole_buffer_moved() {
  if (shared_) deadline_ns_ = now_ns() + int64_t{wait_ms_} * 1000000;
}

int64_t ServiceWait::left_us() const {
  const int64_t left = deadline_ns_ - now_ns();
  return left > 0 ? (left + 999) / 1000 : 0;
}

int request_video_list(const std::string &base, std::string *reply) {
  ServiceWait wait(false, std::min(kVideoListWaitMs, file_service_wait_ms() * 2));
  platform::Socket sock;
  int r = open_ftpd_socket(nullptr, &sock, wait);
  if (r != 0) {
    log_printf("Failed to connect tracker ftpd. ret val %d \n", r);
    return -1;
  }
  std::vector<uint8_t> buf(kServiceBuffer + 1);
  wait.begin_step();
  int n = send_text(sock, "QXGETVS " + base, wait)
              ? receive_service_reply(sock, buf.data(), kServiceBuffer, wait)
              : 0;
  if (n <= 0) {
    log_printf("Failed to receive reply from tracker ftpd.\n");
    return -4;
  }
  buf[static_cast<size_t>(n)] = 0;
  *reply = reinterpret_cast<const char *>(buf.data());
  return 0;
}

int open_ftpd_socket(const char *host, platform::Socket *out, ServiceWait &wait) {
  LinkRecord &link = link_record();
  if (!link.host_v5) {
    log_printf("open_ftpd_socket: TCP unsupported by host\n");
    return -6;
  }
  IPv4 ip{};
  std::string text;
  if (host != nullptr && *host != 0) {
    text = host;
    if (!parse_dotted(text, &ip)) {
      log_printf("open_ftpd_socket: connect %s failed\n", text.c_str());
      alert("open_ftpd_socket: connect failed\n");
      return -9;
    }
  } else {
    LinkLockGuard lock;
    ip = address_ip(link.tracker_address);
    char dotted[20];
    std::snprintf(dotted, sizeof dotted, "%d.%d.%d.%d", ip[0], ip[1], ip[2], ip[3]);
    text = dotted;
  }
  log_printf("ip:%s\n", text.c_str());
  int err = 0;
  platform::Socket s = platform::Socket::tcp(&err);
  if (!s.valid()) return -7;
  // The socket never blocks: every wait (the connect's included, which a blocking connect would
  // leave to the system's own minutes-long limit) is a poll against the service wait.
  if (s.set_blocking(false) != 0) return -8;
  err = s.connect_start(platform::Endpoint{ip, transport_options().file_service_port});
  if (err == platform::kSockWouldBlock || err == platform::kSockInProgress) {
    const int64_t left = wait.left_us();
    const int w = left > 0 ? s.wait_writable(left) : 0;
    err = w > 0 ? 0 : (w == 0 ? platform::kSockTimedOut : -w);
  }
  if (err != 0) {
    log_printf("open_ftpd_socket: connect failed #%d (%s, %s)\n", err,
               platform::socket_error_text(err), platform::socket_error_name(err));
    log_printf("open_ftpd_socket: connect %s failed\n", text.c_str());
    alert("open_ftpd_socket: connect failed\n");
    return -9;
  }
  *out = std::move(s);
  return 0;
}

DownloadProgress::DownloadProgress(download_progress_fn fn, const char *src, uint64_t total)
    : fn_(fn), src_(src), total_(total) {}

int DownloadProgress::update(uint64_t received) {
  if (fn_ == nullptr) return 0;
  int percent = percent_of(received, total_);
  uint32_t now = local_ms();
  if (received != total_) {
    if (first_) {
      first_ = false;
      last_ms_ = now;
      last_percent_ = percent;
      return 0;
    }
    if (now - last_ms_ <= kDownloadThrottleMs || percent - last_percent_ < kDownloadThrottlePercent)
      return 0;
    last_ms_ = now;
    last_percent_ = percent;
  }
  int answer = fn_(src_, total_, received);
  pump_input_events();
  return answer;
}

int32_t receive_data_file_feedback_ftpd(const char *src, const char *dest, int options,
                                        bool replace, std::string *name_out,
                                        download_progress_fn progress) {
  GetJob job;
  job.src = src ? src : "";
  job.request = get_request_text(job.src);
  job.replace = replace;
  job.progress = progress;
  job.placed = name_out;
  std::string d = dest ? dest : "";
  job.local_path = [&](const GetReady &reply) -> std::string {
    bool name_used = d.empty() || options == 1 || options == 3;
    if (name_used && !host_name_acceptable(reply.name, "receive_data_file_feedback_ftpd"))
      return {};
    std::string path = d.empty()                        ? reply.name
                       : (options == 1 || options == 3) ? join_path(d, reply.name)
                                                        : d;
    if (path.size() >= kPathLimit) {
      log_printf("receive_data_file_feedback_ftpd: buffer overflow: cannot add %s and %s\n",
                 d.c_str(), reply.name.c_str());
      return {};
    }
    return path;
  };
  return run_get(job);
}

int32_t receive_video_file_ftpd(const std::string &base, const std::string &name,
                                const std::string &dest, download_progress_fn progress,
                                ServiceWait &wait) {
  GetJob job;
  job.wait = &wait;
  job.src = name;
  job.request = "QXGETVF " + base + " " + name;
  job.replace = false;
  job.progress = progress;
  job.cancellable = true;
  job.local_path = [&](const GetReady &reply) -> std::string {
    if (!host_name_acceptable(reply.name, "receive_data_vfile_feedback_ftpd")) return {};
    std::string path = dest.empty() ? reply.name : join_path(dest, reply.name);
    if (path.size() >= kPathLimit) {
      log_printf(
          "receive_data_vfile_feedback_ftpd: buffer overflow: cannot add %s and %s "
          "together\n",
          dest.c_str(), reply.name.c_str());
      return {};
    }
    return path;
  };
  int32_t r = run_get(job);
  if (r >= 0) log_printf("receive_data_vfile_feedback_ftpd done fileName %s \n", name.c_str());
  return r;
}

int32_t send_file_to_tracker(const char *src, const char *dest, upload_progress_fn progress) {
  if (src == nullptr || *src == 0 || std::strlen(src) >= kUploadSourceLimit) {
    log_printf("send_data_file_feedback: src is invalid: \"%s\"\n", src ? src : "");
    return -3;
  }
  if (!upload_name_acceptable(dest)) {
    log_printf("send_data_file_feedback: dest is invalid: \"%s\"\n", dest ? dest : "");
    return -3;
  }
  std::string time = host_time_of_file(src);
  std::FILE *file = nullptr;
  if (!application_terminated_flag() && link_record().is_connected != 0) {
    console_printf("writing file to %s \n", dest);
    file = std::fopen(src, "rb");
  }
  if (file == nullptr) {
    log_printf("open_file %s failed\n", src);
    alert("open_file %s failed.\n", src);
    return -2;
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE *)> closer(file, std::fclose);
  std::fseek(file, 0, SEEK_END);
  long length = std::ftell(file);
  std::fseek(file, 0, SEEK_SET);
  if (length < 0) length = 0;
  if (static_cast<uint64_t>(length) > kLargestUpload) {
    // Announced as a signed 32-bit size it would come out wrong; the service cannot take it.
    log_printf("send_data_file_feedback: %s is %ld bytes, 2 GiB or more\n", src, length);
    alert("Cannot send %s: the file service takes files smaller than 2 GiB.\n", src);
    return -3;
  }
  ServiceWait wait;
  platform::Socket sock;
  int r = open_ftpd_socket(nullptr, &sock, wait);
  if (r != 0) {
    log_printf("Failed to connect tracker ftpd. ret val %d\n", r);
    return -1;
  }
  char request[128];
  std::snprintf(request, sizeof request, "PUT %s %ld %s", dest, length, time.c_str());
  std::optional<std::vector<uint8_t>> reply = request_reply(sock, request, wait);
  if (!reply) {
    log_printf("Failed to receive reply from tracker ftpd.\n");
    return -4;
  }
  uint32_t sent = 0;
  if (is_put_ready(reply->data(), reply->size())) {
    UploadProgress prog(progress, static_cast<uint32_t>(length));
    std::vector<uint8_t> block(kServiceBuffer);
    size_t n;
    while ((n = std::fread(block.data(), 1, block.size(), file)) > 0) {
      wait.begin_step();
      size_t left = send_block(sock, block.data(), n, wait);
      sent += static_cast<uint32_t>(n - left);
      if (left > 0) {
        // A service that no longer takes bytes would make every later block wait as long: the
        // upload ends here, and the count tells the caller that not all of it went.
        log_printf("Failed to send %d bytes to tracker ftpd.\n", static_cast<int>(left));
        break;
      }
      prog.update(sent);
    }
  }
  sock.close();
  if (sent != static_cast<uint32_t>(length)) return -5;
  return static_cast<int32_t>(sent);
}

int32_t send_memory_to_tracker(const void *data, const char *dest, uint32_t size,
                               upload_progress_fn progress) {
  if (size > kLargestUpload) {
    console_printf("send_data_file_mem: %u bytes: the file service takes less than 2 GiB\n", size);
    return -5;
  }
  if (dest != nullptr && has_control_character(dest)) {
    console_printf("send_data_file_mem: invalid name\n");
    return -3;
  }
  ServiceWait wait;
  platform::Socket sock;
  int r = open_ftpd_socket(nullptr, &sock, wait);
  if (r != 0) {
    log_printf("Failed to connect tracker ftpd ret val %d \n", r);
    console_printf("send_data_file_mem: failed to connect tracker ftpd\n");
    return -1;
  }
  char request[128];
  std::snprintf(request, sizeof request, "PUT %s %u ", dest ? dest : "", size);
  std::optional<std::vector<uint8_t>> reply = request_reply(sock, request, wait);
  if (!reply) {
    log_printf("Failed to receive reply from tracker ftpd\n");
    console_printf("send_data_file_mem: failed to get reply from tracker ftpd\n");
    return -2;
  }
  if (!is_put_ready(reply->data(), reply->size())) {
    console_printf("send_data_file_mem: invalid reply from tracker ftpd\n");
    return -3;
  }
  UploadProgress prog(progress, size);
  const auto *bytes = static_cast<const uint8_t *>(data);
  uint32_t sent = 0;
  while (sent < size && bytes != nullptr) {
    size_t block = std::min<size_t>(kServiceBuffer, size - sent);
    wait.begin_step();
    size_t left = send_block(sock, bytes + sent, block, wait);
    if (left > 0) {
      log_printf("Failed to send %d bytes to tracker ftpd\n", static_cast<int>(left));
      console_printf("send_data_file_mem: failed to send to ftpd rbytes %u\n", sent);
      return -4;
    }
    sent += static_cast<uint32_t>(block);
    prog.update(sent);
  }
  if (sent != size) {
    console_printf("send_data_file_mem: incomplete transfer (%u)\n", sent);
    return -5;
  }
  return static_cast<int32_t>(sent);
}

}  // namespace lvx
