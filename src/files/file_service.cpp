#include "files/file_service.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

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

namespace lvx {

namespace {

constexpr size_t kServiceBuffer = 16384;
// Files from this size on have their checksum computed beside the receive.
constexpr uint64_t kPipeMinimum = 4 << 20;
constexpr int32_t kResultCap = 2147483647;
constexpr size_t kUploadNameLimit = 20;
constexpr size_t kUploadSourceLimit = 1024;
constexpr int kDownloadThrottleMs = 250;
constexpr int kDownloadThrottlePercent = 2;
constexpr int kUploadThrottleMs = 500;
constexpr int kUploadThrottlePercent = 5;
constexpr int kVideoCancel = LUMAVEX_PROGRESS_CANCEL;

// Numbers naming the failing places in the "line %d" logs.
enum Place { kAtConnect = 101, kAtReply = 102, kAtOpen = 103, kAtWrite = 104, kAtSend = 105 };

// Written by the application thread of a test before any transfer; read by transfers.
std::atomic<int> g_wait_ms{60000};

int percent_of(uint64_t part, uint64_t total) {
  return total == 0 ? 100
                    : static_cast<int>(
                          static_cast<double>(part) / static_cast<double>(total) * 100.0 + 0.5);
}

// Texts printed (when console output is on) after a failed receive.
const char *receive_error_text(int code) {
  switch (code) {
    case 10004:
      return "The (blocking) call was canceled through WSACancelBlockingCall.\n";
    case 10014:
      return "The buf parameter is not completely contained in a valid part of the user address "
             "space.\n";
    case 10022:
      return "The socket has not been bound with bind, or an unknown flag was specified, or "
             "MSG_OOB was specified for a socket with SO_OOBINLINE enabled or (for byte stream "
             "sockets only) len was zero or negative.\n";
    case 10035:
      return "The socket is marked as nonblocking and the receive operation would block.\n";
    case 10036:
      return "A blocking Windows Sockets 1.1 call is in progress, or the service provider is "
             "still processing a callback function.\n";
    case 10038:
      return "The descriptor is not a socket.\n";
    case 10040:
      return "The message was too large to fit into the specified buffer and was truncated.\n";
    case 10045:
      return "MSG_OOB was specified, but the socket is not stream-style such as type "
             "SOCK_STREAM, OOB data is not supported in the communication domain associated "
             "with this socket, or the socket is unidirectional and supports only send "
             "operations.\n";
    case 10050:
      return "The network subsystem has failed.\n";
    case 10052:
      return "For a connection-oriented socket, this error indicates that the connection has "
             "been broken due to keep-alive activity that detected a failure while the "
             "operation was in progress. For a datagram socket, this error indicates that the "
             "time to live has expired.\n";
    case 10053:
      return "The virtual circuit was terminated due to a time-out or other failure. The "
             "application should close the socket as it is no longer usable.\n";
    case 10054:
      return "The virtual circuit was reset by the remote side executing a hard or abortive "
             "close. \n";
    case 10057:
      return "The socket is not connected.\n";
    case 10058:
      return "The socket has been shut down; it is not possible to receive on a socket after "
             "shutdown has been invoked with how set to SD_RECEIVE or SD_BOTH.\n";
    case 10060:
      return "The connection has been dropped because of a network failure or because the peer "
             "system failed to respond.\n";
    case 10093:
      return "A successful WSAStartup call must occur before using this function.\n";
    default:
      return nullptr;
  }
}

// One receive on a service socket, whose receive time-out is the service wait: the byte count
// (> 0), 0 when the peer closed, -1 when the time ran out, or minus (1 + the socket error).
int receive_within(platform::Socket &s, uint8_t *buf, size_t size) {
  int n = s.recv(buf, size);
  if (n >= 0) return n;
  if (-n == platform::kSockWouldBlock || -n == platform::kSockTimedOut) return -1;
  return -1 + n;
}

bool send_text(platform::Socket &s, const std::string &text) {
  return s.send_all(text.c_str(), text.size() + 1) == 0;
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
};

int32_t run_get(const GetJob &job) {
  const int wait_ms = g_wait_ms.load();
  abort_to_idle();
  platform::Socket sock;
  int r = open_ftpd_socket(nullptr, &sock);
  if (r != 0) {
    log_printf("Failed to connect tracker ftpd. line %d ret val %d \n", kAtConnect, r);
    return -1;
  }
  if (!send_text(sock, job.request)) {
    log_printf("Failed to receive reply from tracker ftpd. line %d\n", kAtReply);
    return -4;
  }
  log_printf("Waiting up to %d ms for a response from the host to get file %s.\n", wait_ms,
             job.src.c_str());
  std::vector<uint8_t> buf(kServiceBuffer);
  int n = receive_within(sock, buf.data(), buf.size() - 1);
  if (n <= 0) {
    log_printf("Failed to receive reply from tracker ftpd. line %d\n", kAtReply);
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
    log_printf("open_file line %d\n", kAtOpen);
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
      log_printf("Failed to write %d bytes to file. line %d\n", static_cast<int>(count), kAtWrite);
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
  while (!cancelled) {
    uint8_t *into = pipe ? pipe->reserve(kServiceBuffer) : buf.data();
    n = receive_within(sock, into, kServiceBuffer);
    if (n > 0) {
      take(into, static_cast<size_t>(n));
      continue;
    }
    if (n == 0) break;
    if (n == -1) {
      log_printf(
          "The connection has been dropped because of a network failure or because the peer "
          "system failed to respond.\n");
      alert("Connection disconnected.\n");
      status = ServiceStatus::kDropped;
      break;
    }
    int code = -(n + 1);
    log_printf("receive_data_file_feedback_ftpd: recv failed #%d:\n", code);
    if (const char *text = receive_error_text(code)) console_printf("%s", text);
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

// Sends a block completely; the bytes left unsent (0 on success).
size_t send_block(platform::Socket &s, const uint8_t *data, size_t size) {
  size_t done = 0;
  while (done < size) {
    int n = s.send(data + done, size - done);
    if (n <= 0) {
      if (n == -platform::kSockWouldBlock && s.wait_writable(2'000'000) > 0) continue;
      break;
    }
    done += static_cast<size_t>(n);
  }
  return size - done;
}

// Sends the request and waits for the reply; its bytes, or nothing when none came.
std::optional<std::vector<uint8_t>> request_reply(platform::Socket &s, const std::string &text) {
  if (!send_text(s, text)) return std::nullopt;
  std::vector<uint8_t> buf(kServiceBuffer);
  int n = receive_within(s, buf.data(), buf.size());
  if (n <= 0) return std::nullopt;
  buf.resize(static_cast<size_t>(n));
  return buf;
}

}  // namespace

int file_service_wait_ms() {
  return g_wait_ms.load();
}

void set_file_service_wait_ms_for_testing(int ms) {
  g_wait_ms = ms > 0 ? ms : 60000;
}

int open_ftpd_socket(const char *host, platform::Socket *out) {
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
  if (s.set_blocking(true) != 0) return -8;
  if ((err = s.set_receive_timeout_ms(g_wait_ms.load())) != 0) return -err;
  // An upload to a tracker that stopped reading ends after the same wait.
  if ((err = s.set_send_timeout_ms(g_wait_ms.load())) != 0) return -err;
  err = s.connect_start(platform::Endpoint{ip, transport_options().file_service_port});
  if (err == platform::kSockWouldBlock || err == platform::kSockInProgress) {
    int w = s.wait_writable(static_cast<int64_t>(g_wait_ms.load()) * 1000);
    err = w > 0 ? 0 : (w == 0 ? platform::kSockTimedOut : -w);
  }
  if (err != 0) {
    log_printf("open_ftpd_socket: connect failed #%d\n", err);
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
                                const std::string &dest, download_progress_fn progress) {
  GetJob job;
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
  if (dest == nullptr || *dest == 0 || std::strlen(dest) > kUploadNameLimit) {
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
    log_printf("open_file line %d\n", kAtOpen);
    alert("open_file %s failed.\n", src);
    return -2;
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE *)> closer(file, std::fclose);
  std::fseek(file, 0, SEEK_END);
  long length = std::ftell(file);
  std::fseek(file, 0, SEEK_SET);
  if (length < 0 || length > INT32_MAX) length = 0;
  platform::Socket sock;
  int r = open_ftpd_socket(nullptr, &sock);
  if (r != 0) {
    log_printf("Failed to connect tracker ftpd. line %d ret val %d\n", kAtConnect, r);
    return -1;
  }
  char request[128];
  std::snprintf(request, sizeof request, "PUT %s %ld %s", dest, length, time.c_str());
  std::optional<std::vector<uint8_t>> reply = request_reply(sock, request);
  if (!reply) {
    log_printf("Failed to receive reply from tracker ftpd. line %d\n", kAtReply);
    log_printf("Failed to receive reply from tracker ftpd.\n");
    return -4;
  }
  uint32_t sent = 0;
  if (is_put_ready(reply->data(), reply->size())) {
    UploadProgress prog(progress, static_cast<uint32_t>(length));
    std::vector<uint8_t> block(kServiceBuffer);
    size_t n;
    while ((n = std::fread(block.data(), 1, block.size(), file)) > 0) {
      size_t left = send_block(sock, block.data(), n);
      if (left > 0)
        log_printf("Failed to send %d bytes to tracker ftpd. line %d\n", static_cast<int>(left),
                   kAtSend);
      sent += static_cast<uint32_t>(n - left);
      prog.update(sent);
    }
  }
  sock.close();
  if (sent != static_cast<uint32_t>(length)) return -5;
  return static_cast<int32_t>(sent);
}

int32_t send_memory_to_tracker(const void *data, const char *dest, uint32_t size,
                               upload_progress_fn progress) {
  platform::Socket sock;
  int r = open_ftpd_socket(nullptr, &sock);
  if (r != 0) {
    log_printf("Failed to connect tracker ftpd line %d ret val %d \n", kAtConnect, r);
    console_printf("send_data_file_mem: failed to connect tracker ftpd\n");
    return -1;
  }
  char request[128];
  std::snprintf(request, sizeof request, "PUT %s %u ", dest ? dest : "", size);
  std::optional<std::vector<uint8_t>> reply = request_reply(sock, request);
  if (!reply) {
    log_printf("Failed to receive reply from tracker ftpd line %d\n", kAtReply);
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
    size_t left = send_block(sock, bytes + sent, block);
    if (left > 0) {
      log_printf("Failed to send %d bytes to tracker ftpd line %d\n", static_cast<int>(left),
                 kAtSend);
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
