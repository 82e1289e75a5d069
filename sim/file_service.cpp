#include "sim/file_service.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <thread>

#include "common/byte_io.h"
#include "sim/link_codes.h"
#include "sim/packet_decoders.h"
#include "sim/tracker.h"

namespace lvxsim {

namespace {

namespace fs = std::filesystem;
using lvx::platform::Socket;

constexpr int kPollUs = 100'000;
constexpr size_t kRequestLimit = 4096;
constexpr size_t kSendChunk = 65536;
constexpr uint8_t kFileAck = 60;
constexpr int16_t kInfoLength = 999;
constexpr size_t kFileData = 28;
constexpr int kLinkWindow = 16;
constexpr auto kStaleAck = std::chrono::milliseconds(100);

// A plain name: no separators, no "..", nothing the folder would not hold.
bool plain_name(const std::string &n) {
  return !n.empty() && n != "." && n != ".." && n.find_first_of("/\\") == std::string::npos;
}

std::string host_time(const fs::path &p) {
  std::error_code ec;
  auto t = fs::last_write_time(p, ec);
  if (ec) return {};
  auto sys = std::chrono::file_clock::to_sys(t);
  int64_t secs = std::chrono::duration_cast<std::chrono::seconds>(sys.time_since_epoch()).count();
  std::time_t tt = static_cast<std::time_t>(secs);
  std::tm tm{};
  if (gmtime_r(&tt, &tm) == nullptr) return {};
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d-%02d@%02d:%02d:%02d", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_wday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return text;
}

// The words of a request after its verb.
std::vector<std::string> words(const std::string &text) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < text.size()) {
    size_t s = text.find_first_not_of(' ', i);
    if (s == std::string::npos) break;
    size_t e = text.find(' ', s);
    out.push_back(text.substr(s, e == std::string::npos ? std::string::npos : e - s));
    i = e == std::string::npos ? text.size() : e;
  }
  return out;
}

}  // namespace

uint32_t service_checksum(const uint8_t *data, size_t size, uint32_t crc) {
  static const auto table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t b = 0; b < 256; ++b) {
      uint32_t c = b << 24;
      for (int i = 0; i < 8; ++i) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
      t[b] = c;
    }
    return t;
  }();
  for (size_t i = 0; i < size; ++i) crc = (crc << 8) ^ table[(crc >> 24) ^ data[i]];
  return crc;
}

FileService::FileService(SimTracker &owner) : owner_(owner) {}

FileService::~FileService() {
  stop();
}

bool FileService::start(const std::array<uint8_t, 4> &ip, uint16_t port, std::string *error) {
  int err = 0;
  Socket l = Socket::tcp(&err);
  lvx::platform::Endpoint at{ip, port};
  if (l.valid()) l.set_reuse_address(true);
  if (!l.valid() || (err = l.bind(at)) != 0 || (err = l.listen(4)) != 0) {
    if (error)
      *error = "file service " + at.to_string() + ": " + lvx::platform::socket_error_text(err);
    return false;
  }
  port_ = l.local_endpoint().port;
  listener_ = std::move(l);
  stop_ = false;
  thread_ = std::thread([this] { serve_loop(); });
  return true;
}

void FileService::stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  listener_.close();
}

void FileService::set_faults(const FileFaults &f) {
  std::lock_guard<std::mutex> lock(mu_);
  faults_ = f;
}

FileFaults FileService::faults() const {
  std::lock_guard<std::mutex> lock(mu_);
  return faults_;
}

FileStats FileService::stats() const {
  std::lock_guard<std::mutex> lock(mu_);
  return stats_;
}

bool FileService::send_reply(Socket &s, const std::string &text,
                             const std::vector<uint8_t> &after) {
  std::vector<uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);
  bytes.insert(bytes.end(), after.begin(), after.end());
  const int split_ms = faults().split_reply_ms;
  size_t first = split_ms > 0 ? std::min<size_t>(5, text.size()) : bytes.size();
  if (s.send_all(bytes.data(), first) != 0) return false;
  if (first == bytes.size()) return true;
  std::this_thread::sleep_for(std::chrono::milliseconds(split_ms));
  return s.send_all(bytes.data() + first, bytes.size() - first) == 0;
}

void FileService::hold(Socket &s) {
  (void)s;
  while (!stop_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

void FileService::serve_loop() {
  while (!stop_) {
    if (listener_.wait_readable(kPollUs) <= 0) continue;
    int err = 0;
    lvx::platform::Endpoint peer;
    Socket s = listener_.accept(&peer, &err);
    if (!s.valid()) continue;
    s.set_blocking(true);
    s.set_receive_timeout_ms(200);
    serve_one(s);
  }
}

void FileService::serve_one(Socket &s) {
  // The request: text up to its zero byte.
  std::string request;
  char c[512];
  while (!stop_ && request.find('\0') == std::string::npos && request.size() < kRequestLimit) {
    int n = s.recv(c, sizeof c);
    if (n == -lvx::platform::kSockWouldBlock || n == -lvx::platform::kSockTimedOut) continue;
    if (n <= 0) return;
    request.append(c, static_cast<size_t>(n));
  }
  std::string extra;
  size_t nul = request.find('\0');
  if (nul == std::string::npos) return;
  extra = request.substr(nul + 1);
  request.resize(nul);
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++stats_.service_requests;
  }
  const std::string dir = owner_.data_dir();
  std::vector<std::string> w = words(request);
  if (w.empty()) return;
  if (w[0] == "GET" && w.size() == 2) {
    if (!plain_name(w[1]) || dir.empty()) {
      send_reply(s, "GET_Error no such file");
      return;
    }
    send_file(s, (fs::path(dir) / w[1]).string(), w[1]);
  } else if (w[0] == "QXGETVF" && w.size() == 3) {
    if (!plain_name(w[1]) || !plain_name(w[2]) || dir.empty()) {
      send_reply(s, "GET_Error no such file");
      return;
    }
    send_file(s, (fs::path(dir) / "vfiles" / w[1] / w[2]).string(), w[2]);
  } else if (w[0] == "QXGETVS" && w.size() == 2) {
    list_videos(s, w[1]);
  } else if (w[0] == "PUT") {
    receive_upload(s, request + std::string(1, '\0') + extra);
  } else {
    send_reply(s, "ERROR unknown request");
  }
}

std::shared_ptr<const FileService::Loaded> FileService::load(const std::string &path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return nullptr;
  const auto size = static_cast<uint64_t>(fs::file_size(path, ec));
  const auto stamp = static_cast<int64_t>(fs::last_write_time(path, ec).time_since_epoch().count());
  const auto key = std::make_pair(size, stamp);
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (cached_ && cached_path_ == path && cached_key_ == key) return cached_;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return nullptr;
  auto l = std::make_shared<Loaded>();
  l->bytes.resize(size);
  in.read(reinterpret_cast<char *>(l->bytes.data()), static_cast<std::streamsize>(size));
  l->bytes.resize(static_cast<size_t>(in.gcount()));
  l->time = host_time(path);
  l->checksum = service_checksum(l->bytes.data(), l->bytes.size());
  std::lock_guard<std::mutex> lock(mu_);
  cached_path_ = path;
  cached_key_ = key;
  cached_ = l;
  return l;
}

void FileService::send_file(Socket &s, const std::string &path, const std::string &name) {
  FileFaults f = faults();
  if (f.only_file && *f.only_file != name) {
    // The faults are for another file: this one goes out whole, with the reply as it is.
    const std::optional<std::string> reply_name = f.reply_name;
    const int split = f.split_reply_ms;
    f = FileFaults{};
    f.reply_name = reply_name;
    f.split_reply_ms = split;
  }
  std::shared_ptr<const Loaded> file = f.not_found ? nullptr : load(path);
  if (!file) {
    send_reply(s, "GET_Error no such file " + name);
    return;
  }
  const auto size = static_cast<int64_t>(file->bytes.size());
  char head[512];
  std::snprintf(head, sizeof head, "GET_Ready %s %lld %s %u",
                f.reply_name ? f.reply_name->c_str() : name.c_str(),
                static_cast<long long>(size + f.size_delta),
                file->time.empty() ? "-" : file->time.c_str(),
                file->checksum + (f.wrong_checksum ? 1u : 0u));
  int64_t limit = size;
  if (f.drop_after_bytes >= 0) limit = std::min(limit, f.drop_after_bytes);
  if (f.stall_after_bytes >= 0) limit = std::min(limit, f.stall_after_bytes);
  // The reply and the first bytes of the file go out together, as a real service's first
  // segment often carries both (unless the bytes trickle).
  int64_t pos = f.trickle_ms > 0
                    ? 0
                    : std::min<int64_t>(limit, 16384 - static_cast<int64_t>(std::strlen(head) + 1));
  if (!send_reply(s, head, std::vector<uint8_t>(file->bytes.begin(), file->bytes.begin() + pos)))
    return;
  while (pos < limit && !stop_) {
    if (f.trickle_ms > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(f.trickle_ms));
      if (s.send_all(file->bytes.data() + pos, 1) != 0) return;
      ++pos;
      continue;
    }
    size_t n = static_cast<size_t>(std::min<int64_t>(kSendChunk, limit - pos));
    if (s.send_all(file->bytes.data() + pos, n) != 0) return;
    pos += static_cast<int64_t>(n);
  }
  if (f.stall_after_bytes >= 0 && limit == f.stall_after_bytes) {
    // Silent but connected until the display gives up (or the tracker stops).
    char sink[256];
    while (!stop_ && s.recv(sink, sizeof sink) != 0) {
    }
  }
}

void FileService::list_videos(Socket &s, const std::string &base) {
  FileFaults f = faults();
  const std::string dir = owner_.data_dir();
  fs::path folder = fs::path(dir) / "vfiles" / base;
  std::error_code ec;
  if ((f.not_found && !f.only_file) || dir.empty() || !plain_name(base) ||
      !fs::is_directory(folder, ec)) {
    send_reply(s, "QXGETVS_Error no video files");
    return;
  }
  std::vector<std::string> names;
  for (const auto &e : fs::directory_iterator(folder, ec))
    if (e.is_regular_file()) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  std::string list;
  for (const std::string &n : names) list += (list.empty() ? "" : ";") + n;
  size_t count = names.size();
  if (f.video_names) {
    list = *f.video_names;
    count = static_cast<size_t>(std::count(list.begin(), list.end(), ';')) + 1;
  }
  send_reply(s, "QXGETVS_Ready " + (f.reply_name ? *f.reply_name : base) + " " +
                    std::to_string(count) + " " + list);
}

void FileService::receive_upload(Socket &s, const std::string &request) {
  FileFaults f = faults();
  size_t nul = request.find('\0');
  std::vector<std::string> w = words(request.substr(0, nul));
  std::string data = request.substr(nul + 1);
  const std::string dir = owner_.data_dir();
  long long size = w.size() >= 3 ? std::atoll(w[2].c_str()) : -1;
  if (f.refuse_put || w.size() < 3 || !plain_name(w[1]) || dir.empty() || size < 0) {
    send_reply(s, "PUT_Error");
    return;
  }
  // Counted from the acceptance on, so that a "draw_image" of the file waits for its last byte.
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++uploading_;
  }
  struct Done {
    FileService *self;
    ~Done() {
      {
        std::lock_guard<std::mutex> lock(self->mu_);
        --self->uploading_;
      }
      self->uploads_done_.notify_all();
    }
  } done{this};
  if (!send_reply(s, "PUT_Ready")) return;
  if (f.stop_reading_upload) {
    hold(s);
    return;
  }
  fs::path recv = fs::path(dir) / "recv";
  std::error_code ec;
  fs::create_directories(recv, ec);
  std::vector<char> buf(65536);
  int idle = 0;
  while (static_cast<long long>(data.size()) < size && !stop_ && idle < 25) {
    int n = s.recv(buf.data(), buf.size());
    if (n == -lvx::platform::kSockWouldBlock || n == -lvx::platform::kSockTimedOut) {
      ++idle;
      continue;
    }
    if (n <= 0) break;
    idle = 0;
    data.append(buf.data(), static_cast<size_t>(n));
    if (f.stall_upload_after_bytes >= 0 &&
        static_cast<int64_t>(data.size()) >= f.stall_upload_after_bytes) {
      // A tracker that hangs: what the display sends piles up until it gives up (or the
      // tracker stops); nothing is stored.
      for (int waited = 0; !stop_ && waited < 30000; waited += 50)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      return;
    }
  }
  // Written beside and renamed, so that whoever watches the folder sees the whole file or none.
  fs::path part = recv / (w[1] + ".part");
  {
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
  }
  fs::rename(part, recv / w[1], ec);
}

bool FileService::wait_for_uploads(int timeout_ms) {
  std::unique_lock<std::mutex> lock(mu_);
  return uploads_done_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                [this] { return uploading_ == 0; });
}

bool FileService::on_command(const ReceivedPacket &p) {
  const std::optional<CommandPacket> command = decode_command(p.bytes);
  if (!command) return false;
  if (command->type == kFileAck) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      ++stats_.link_acks;
    }
    const auto offset = static_cast<int64_t>(command->value);
    // An acknowledgement for a place already sent is stale while the blocks sent may still be
    // on their way (the display acknowledges both when a window ends and when it has read
    // everything); later it asks again for something lost, and is answered.
    const auto now = std::chrono::steady_clock::now();
    const bool stale = offset < link_sent_until_ && now - link_sent_at_ < kStaleAck;
    if (link_active_ && !stale) {
      link_sent_at_ = now;
      send_link_window(offset);
    }
    return true;
  }
  if (command->type != kCommandTypeCommand) return false;
  const std::string &text = command->text;
  if (text.rfind("lumavex_file_xfer_packets", 0) == 0) {
    size_t eq = text.find('=');
    link_window_ = eq == std::string::npos ? 1 : std::max(1, std::atoi(text.c_str() + eq + 1));
    link_window_ = std::min(link_window_, kLinkWindow);
    return false;
  }
  if (text == "abort_file_transfer") {
    link_active_ = false;
    return false;
  }
  if (text.rfind("start_file_transfer ", 0) != 0) return false;
  std::string name = text.substr(20);
  std::string base = name.substr(
      name.find_last_of("/\\:") == std::string::npos ? 0 : name.find_last_of("/\\:") + 1);
  FileFaults f = faults();
  const std::string dir = owner_.data_dir();
  std::shared_ptr<const Loaded> file;
  if (!f.not_found && plain_name(base) && !dir.empty())
    file = load((fs::path(dir) / base).string());
  const uint32_t serial = command->serial;
  if (!file) {
    // The tracker cannot open it: an error packet, and the command fails.
    std::vector<uint8_t> e(kFileData + 1, 0);
    lvx::put_u8(e, 0, kFilePkt);
    lvx::put_u16(e, 24, static_cast<uint16_t>(-111));
    owner_.send_to_client(e);
    owner_.send_to_client(
        build::status_packet(serial, kStatusCommandResult, static_cast<uint16_t>(1), 0, ""));
    return true;
  }
  owner_.send_to_client(build::status_packet(serial, kStatusCommandResult, 0, 0, ""));
  link_bytes_ = file->bytes;
  link_active_ = true;
  link_sent_until_ = 0;
  std::string shown = f.reply_name ? *f.reply_name : "/lvrx/data/" + base;
  std::vector<uint8_t> info(kFileData, 0);
  info.insert(info.end(), shown.begin(), shown.end());
  info.push_back(0);
  lvx::put_u8(info, 0, kFilePkt);
  lvx::put_u32(info, 20,
               static_cast<uint32_t>(static_cast<int64_t>(link_bytes_.size()) + f.size_delta));
  lvx::put_u16(info, 24, static_cast<uint16_t>(kInfoLength));
  link_info_ = info;
  owner_.send_to_client(info);
  return true;
}

void FileService::send_link_window(int64_t offset) {
  FileFaults f = faults();
  const int block = std::clamp(owner_.config().file_block_bytes, 1, 1024);
  const auto size = static_cast<int64_t>(link_bytes_.size());
  const int window = link_window_;
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++stats_.link_windows;
  }
  for (int i = 0; i < window && offset < size; ++i) {
    if (f.stall_after_bytes >= 0 && offset >= f.stall_after_bytes) return;
    if (f.link_error != 0 && offset >= f.link_error_after) {
      std::vector<uint8_t> e(kFileData + 1, 0);
      lvx::put_u8(e, 0, kFilePkt);
      lvx::put_u16(e, 24, static_cast<uint16_t>(f.link_error));
      owner_.send_to_client(e);
      link_active_ = false;
      return;
    }
    int n = static_cast<int>(std::min<int64_t>(block, size - offset));
    // A length of 999 marks the file information, so no block may have it.
    if (n == kInfoLength) n = kInfoLength - 1;
    const bool last = i == window - 1 || offset + n >= size;
    uint32_t flags = 0;
    if (window > 1) flags = i == 0 ? 6u : last ? 2u : 4u;
    if (window > 1 && i == 0 && last) flags = 2u;
    std::vector<uint8_t> pkt(kFileData, 0);
    pkt.insert(pkt.end(), link_bytes_.begin() + offset, link_bytes_.begin() + offset + n);
    pkt.push_back(0);
    lvx::put_u8(pkt, 0, kFilePkt);
    lvx::put_u32(pkt, 20, static_cast<uint32_t>(offset) | (flags << 28));
    lvx::put_u16(pkt, 24, static_cast<uint16_t>(n));
    owner_.send_to_client(std::move(pkt));
    {
      std::lock_guard<std::mutex> lock(mu_);
      ++stats_.link_blocks_sent;
    }
    offset += n;
    if (f.reannounce_each_block) owner_.send_to_client(link_info_);
  }
  link_sent_until_ = offset;
  if (offset >= size) link_active_ = false;
}

}  // namespace lvxsim
