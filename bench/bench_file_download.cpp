// Download throughput, in one run:
//  - a recording over the tracker's file service (request, reply, the bytes written to a local
//    file with the checksum computed on the way and verified, the file moved into place), beside
//    a plain loopback TCP transfer of the same bytes into a file in the same folder;
//  - the link block transfer, one block per acknowledgement and in windows of 16.
//
//   bench_file_download [--megabytes=N] [--link-megabytes=N] [--runs=N]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "files/checksum.h"
#include "link/transport.h"
#include "lumavex_core.h"
#include "platform/net.h"
#include "sim/tracker.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr lvxsim::IPv4 kServiceIp{127, 0, 0, 207};
constexpr lvxsim::IPv4 kSingleIp{127, 0, 0, 208};
constexpr lvxsim::IPv4 kWindowIp{127, 0, 0, 209};
constexpr size_t kReceiveChunk = 16384;

double seconds_since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

double mb_per_s(size_t bytes, double seconds) {
  return static_cast<double>(bytes) / 1e6 / seconds;
}

// Bytes that do not compress and differ everywhere.
std::vector<uint8_t> make_bytes(size_t n) {
  std::vector<uint8_t> v(n);
  uint64_t x = 0x9E3779B97F4A7C15ull;
  for (size_t i = 0; i < n; i += 8) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    std::memcpy(v.data() + i, &x, std::min<size_t>(8, n - i));
  }
  return v;
}

// The plain transfer: a sender thread writes the bytes down a loopback TCP connection, the
// receiver writes what it reads to a file. Seconds from connect to the file closed.
double plain_tcp_into_file(const std::vector<uint8_t> &bytes, const std::string &path) {
  using lvx::platform::Endpoint;
  using lvx::platform::Socket;
  int err = 0;
  Socket listener = Socket::tcp(&err);
  listener.bind(Endpoint{{127, 0, 0, 207}, 0});
  listener.listen(1);
  Endpoint at = listener.local_endpoint();
  std::thread sender([&] {
    Endpoint peer;
    int e = 0;
    Socket s = listener.accept(&peer, &e);
    s.set_blocking(true);
    s.send_all(bytes.data(), bytes.size());
  });
  const auto start = Clock::now();
  Socket s = Socket::tcp(&err);
  s.set_blocking(true);
  s.connect_start(at);
  std::FILE *f = std::fopen(path.c_str(), "wb");
  std::vector<uint8_t> buf(kReceiveChunk);
  size_t total = 0;
  int n;
  while ((n = s.recv(buf.data(), buf.size())) > 0) {
    std::fwrite(buf.data(), 1, static_cast<size_t>(n), f);
    total += static_cast<size_t>(n);
  }
  std::fclose(f);
  const double t = seconds_since(start);
  sender.join();
  if (total != bytes.size()) std::fprintf(stderr, "plain transfer short: %zu\n", total);
  return t;
}

// Starts a tracker serving `dir` and connects the library to it.
bool connect(lvxsim::SimTracker &sim, const lvxsim::IPv4 &ip) {
  if (!bench::start_file_tracker(sim, ip)) return false;
  return open_lumavex_connection(0) == 0;
}

lvxsim::Config tracker_config(const lvxsim::IPv4 &ip, const std::string &version,
                              const std::string &dir) {
  lvxsim::Config c = bench::answering_tracker(ip);
  c.version_text = version;
  c.data_dir = dir;
  c.enable_file_service = true;
  c.control.enabled = true;
  return c;
}

// One link download of the file; MB/s, or 0 on failure.
double link_rate(const lvxsim::IPv4 &ip, const std::string &version, const std::string &dir,
                 const std::string &out, size_t size, uint64_t *acks) {
  lvxsim::SimTracker sim(tracker_config(ip, version, dir));
  if (!connect(sim, ip)) return 0;
  const auto start = Clock::now();
  int32_t r = receive_data_file_feedback64("link.qrd", out.c_str(),
                                           RECEIVE_FILE_TO_DIR | RECEIVE_FILE_REPLACE, nullptr);
  const double t = seconds_since(start);
  *acks = sim.file_stats().link_acks;
  close_lumavex_connection();
  close_lumavex_system();
  sim.stop();
  return r == static_cast<int32_t>(size) ? mb_per_s(size, t) : 0;
}

}  // namespace

int main(int argc, char **argv) {
  size_t megabytes = 256;
  size_t link_megabytes = 8;
  int runs = 3;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--megabytes=", 12) == 0) {
      megabytes = std::strtoul(argv[i] + 12, nullptr, 10);
    } else if (std::strncmp(argv[i], "--link-megabytes=", 17) == 0) {
      link_megabytes = std::strtoul(argv[i] + 17, nullptr, 10);
    } else if (std::strncmp(argv[i], "--runs=", 7) == 0) {
      runs = std::atoi(argv[i] + 7);
    } else {
      std::fprintf(stderr, "usage: %s [--megabytes=N] [--link-megabytes=N] [--runs=N]\n", argv[0]);
      return 2;
    }
  }
  const fs::path root = fs::temp_directory_path() / ("lvx_bench_files_" + std::to_string(getpid()));
  const fs::path dir = root / "tracker";
  const fs::path out = root / "local";
  fs::create_directories(dir);
  fs::create_directories(out);
  const size_t size = megabytes << 20;
  std::vector<uint8_t> bytes = make_bytes(size);
  std::ofstream(dir / "trial.qrd", std::ios::binary)
      .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(size));
  {
    std::vector<uint8_t> link = make_bytes(link_megabytes << 20);
    std::ofstream(dir / "link.qrd", std::ios::binary)
        .write(reinterpret_cast<const char *>(link.data()),
               static_cast<std::streamsize>(link.size()));
  }

  // The checksum alone, for scale.
  auto t0 = Clock::now();
  uint32_t crc = lvx::crc32_update(0, bytes.data(), bytes.size());
  double fast = mb_per_s(size, seconds_since(t0));
  t0 = Clock::now();
  uint32_t slow_crc = lvx::crc32_update_bytewise(0, bytes.data(), bytes.size());
  double slow = mb_per_s(size, seconds_since(t0));
  std::printf("checksum: slicing by 8 %.0f MB/s, a byte at a time %.0f MB/s (%s)\n", fast, slow,
              crc == slow_crc ? "equal" : "DIFFERENT");

  lvxsim::SimTracker sim(tracker_config(kServiceIp, "LUMAVEX T 1.2", dir.string()));
  if (!connect(sim, kServiceIp)) return 1;
  // A first download warms the tracker's cache of the file and the page cache.
  const std::string dest = out.string();
  if (receive_data_file_feedback64("trial", dest.c_str(),
                                   RECEIVE_FILE_TO_DIR | RECEIVE_FILE_REPLACE,
                                   nullptr) != static_cast<int32_t>(size)) {
    std::fprintf(stderr, "download failed\n");
    return 1;
  }
  double best_service = 0, best_plain = 0, sum_service = 0, sum_plain = 0;
  for (int r = 0; r < runs; ++r) {
    fs::remove(out / "trial.qrd");
    auto start = Clock::now();
    int32_t got = receive_data_file_feedback64("trial", dest.c_str(),
                                               RECEIVE_FILE_TO_DIR | RECEIVE_FILE_REPLACE, nullptr);
    double service = mb_per_s(size, seconds_since(start));
    if (got != static_cast<int32_t>(size)) {
      std::fprintf(stderr, "download failed: %d\n", got);
      return 1;
    }
    fs::remove(out / "plain.bin");
    double plain = mb_per_s(size, plain_tcp_into_file(bytes, (out / "plain.bin").string()));
    std::printf("run %d: file service with checksum %.0f MB/s, plain TCP into a file %.0f MB/s\n",
                r + 1, service, plain);
    best_service = std::max(best_service, service);
    best_plain = std::max(best_plain, plain);
    sum_service += service;
    sum_plain += plain;
  }
  std::printf(
      "download of %zu MB: file service %.0f MB/s (best %.0f), plain TCP %.0f MB/s "
      "(best %.0f): %.0f %% of plain (target 80 %%)\n",
      megabytes, sum_service / runs, best_service, sum_plain / runs, best_plain,
      100.0 * sum_service / sum_plain);
  close_lumavex_connection();
  close_lumavex_system();
  sim.stop();

  const size_t link_size = link_megabytes << 20;
  uint64_t single_acks = 0, window_acks = 0;
  double single =
      link_rate(kSingleIp, "LUMAVEX RX 4.0", dir.string(), dest, link_size, &single_acks);
  double windowed =
      link_rate(kWindowIp, "LUMAVEX RX 4.50", dir.string(), dest, link_size, &window_acks);
  std::printf(
      "link transfer of %zu MB: one block per acknowledgement %.1f MB/s (%llu acks), "
      "windows of 16 %.1f MB/s (%llu acks)\n",
      link_megabytes, single, static_cast<unsigned long long>(single_acks), windowed,
      static_cast<unsigned long long>(window_acks));
  fs::remove_all(root);
  return single > 0 && windowed > 0 ? 0 : 1;
}
