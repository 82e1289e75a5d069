// Backdrop images, in one run:
//  - the link path's pixel pipeline on a 1920 x 1080 32-bit image (the cut into a 32-bit image,
//    the scaling to the tracker's size, here the same, and the conversion and packing for each
//    pixel format), in megapixels per second of wall time and of the thread's processor time,
//    beside memcpy of the same pixels;
//  - the whole transfer of that image to the simulated tracker on loopback: as a BMP file over
//    the file service (upload and "draw_image"), and over the link in formats 5 and 32 (which
//    includes the 500 ms the library waits for the tracker's screen size).
//
//   bench_backdrop [--runs=N]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "backdrop/pixel_pipeline.h"
#include "bench_support.h"
#include "lumavex_core.h"
#include "sim/tracker.h"
#include "sim/tracker_control.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace lvx::backdrop;

constexpr int kWidth = 1920, kHeight = 1080;
constexpr lvxsim::IPv4 kFileIp{127, 0, 2, 248};  // test number 760
constexpr lvxsim::IPv4 kLinkIp{127, 0, 2, 249};  // 761

double seconds_since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// A scene with gradients and edges, so that dithering has work everywhere.
std::vector<uint8_t> make_scene() {
  std::vector<uint8_t> px(4u * kWidth * kHeight);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      uint8_t *p = &px[4 * (static_cast<size_t>(y) * kWidth + static_cast<size_t>(x))];
      p[0] = static_cast<uint8_t>(x * 255 / kWidth);
      p[1] = static_cast<uint8_t>(y * 255 / kHeight);
      p[2] = static_cast<uint8_t>(((x / 64 + y / 64) % 2) * 200 + 20);
      p[3] = 0;
    }
  }
  return px;
}

// The calling thread's processor time in seconds: on a shared machine the wall clock also counts
// the time other programs had the processor.
double thread_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The best of `runs` runs of the pipeline for one format, in megapixels per second of wall time
// and of the thread's processor time.
struct Rates {
  double wall = 0, cpu = 0;
};
Rates pipeline_rate(const bitmap_record &rec, int levels, int runs, size_t *packed) {
  Rates best;
  for (int r = 0; r < runs; ++r) {
    const auto start = Clock::now();
    const double cpu_start = thread_seconds();
    Image cut = *make_image(kWidth, kHeight, 32);
    copy_rect(*view_of(&rec), 0, 0, kWidth, kHeight, cut);
    Image scaled = *scale_bilinear(cut, kWidth, kHeight);
    *packed = convert_and_pack(scaled, levels, false, false).size();
    best.wall = std::max(best.wall, kWidth * kHeight / 1e6 / seconds_since(start));
    best.cpu = std::max(best.cpu, kWidth * kHeight / 1e6 / (thread_seconds() - cpu_start));
  }
  return best;
}

lvxsim::Config tracker_config(const lvxsim::IPv4 &ip, int format, const std::string &dir) {
  lvxsim::Config c = bench::answering_tracker(ip);
  c.control.enabled = true;
  c.control.bitmap_format = format;
  c.control.bitmap_window = 16;
  c.data_dir = dir;
  c.enable_file_service = true;
  return c;
}

bool connect(lvxsim::SimTracker &sim, const lvxsim::IPv4 &ip) {
  if (!bench::start_file_tracker(sim, ip)) return false;
  // The whole image fits the tracker's screen, so nothing is clipped.
  sim.control().set_variable("screen_pixel_coords", "0,0,1920,1080");
  return open_lumavex_connection(0) == 0;
}

void disconnect(lvxsim::SimTracker &sim) {
  close_lumavex_connection();
  close_lumavex_system();
  sim.stop();
}

// The best of `runs` whole transfers, in seconds; 0 when one failed. The tracker must have shown
// each image before the time is taken.
double transfer_time(lvxsim::SimTracker &sim, bitmap_record &rec, uint16_t options, int runs) {
  double best = 1e9;
  for (int r = 0; r < runs; ++r) {
    const uint64_t before = sim.control().backdrops_shown();
    const auto start = Clock::now();
    if (lv_bitmap_to_backdrop(&rec, 0, 0, 0, 0, 0, 0, options) != 0) return 0;
    for (int i = 0; i < 10000 && sim.control().backdrops_shown() == before; ++i) msec_delay(1);
    if (sim.control().backdrops_shown() == before) return 0;
    best = std::min(best, seconds_since(start));
  }
  return best;
}

}  // namespace

int main(int argc, char **argv) {
  int runs = 5;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--runs=", 7) == 0) {
      runs = std::max(1, std::atoi(argv[i] + 7));
    } else {
      std::fprintf(stderr, "usage: %s [--runs=N]\n", argv[0]);
      return 2;
    }
  }
  std::vector<uint8_t> pixels = make_scene();
  bitmap_record rec{kWidth, kHeight, 0, 32, pixels.data(), nullptr};

  std::vector<uint8_t> copy(pixels.size());
  double memcpy_best = 0;
  for (int r = 0; r < runs; ++r) {
    const auto start = Clock::now();
    std::memcpy(copy.data(), pixels.data(), pixels.size());
    memcpy_best = std::max(memcpy_best, kWidth * kHeight / 1e6 / seconds_since(start));
  }
  std::printf("pixel pipeline, %d x %d 32-bit (cut, scale, convert, pack), best of %d:\n", kWidth,
              kHeight, runs);
  for (int levels : {2, 4, 5, 32}) {
    size_t packed = 0;
    const Rates rate = pipeline_rate(rec, levels, runs, &packed);
    std::printf(
        "  format %2d: %6.1f Mpixel/s (%5.1f ms an image; %5.1f Mpixel/s of processor time), "
        "%zu bytes packed\n",
        levels, rate.wall, kWidth * kHeight / 1e3 / rate.wall, rate.cpu, packed);
  }
  std::printf("  memcpy of the same pixels: %.0f Mpixel/s\n", memcpy_best);

  const fs::path dir =
      fs::temp_directory_path() / ("lvx_bench_backdrop_" + std::to_string(getpid()));
  fs::create_directories(dir);
  bool ok = true;
  {
    lvxsim::SimTracker sim(tracker_config(kFileIp, 32, dir.string()));
    if (!connect(sim, kFileIp)) return 1;
    const double t = transfer_time(sim, rec, BACKDROP_VIA_FILE, runs);
    std::printf("whole transfer over the file service (%.1f MB BMP, upload and draw): %.1f ms\n",
                (54 + 3.0 * kWidth * kHeight) / 1e6, t * 1e3);
    ok = ok && t > 0;
    disconnect(sim);
  }
  for (int format : {5, 32}) {
    lvxsim::SimTracker sim(tracker_config(kLinkIp, format, dir.string()));
    if (!connect(sim, kLinkIp)) return 1;
    const double t = transfer_time(sim, rec, 0, std::min(runs, 3));
    const lvxsim::ReceivedBitmap got = sim.control().bitmap();
    std::printf(
        "whole transfer over the link, format %2d (%u packets): %.1f ms, of which the screen "
        "request waits 500 ms\n",
        format, got.packets + 1, t * 1e3);
    ok = ok && t > 0;
    disconnect(sim);
  }
  fs::remove_all(dir);
  return ok ? 0 : 1;
}
