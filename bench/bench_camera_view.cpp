// The camera view's two costs, in one run:
//  - decompression: the line decoder over a compressed 384 x 320 synthetic eye picture, in pixels
//    per second, beside memcpy of the same picture's pixels;
//  - the camera-view loop against the simulated tracker: images shown per second by
//    image_mode_display beside the rate at which the tracker's camera takes them.
//
//   bench_camera_view [--seconds=N] [--fps=N] [--repeats=N]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "display/image_codec.h"
#include "link/transport.h"
#include "lumavex_core.h"
#include "sim/camera.h"
#include "sim/tracker.h"
#include "sim/tracker_control.h"

namespace {

constexpr lvxsim::IPv4 kTrackerIp{127, 0, 0, 205};
constexpr lvx::IPv4 kOwnIp{127, 205, 0, 1};
constexpr int kWidth = 384, kHeight = 320;

double seconds_since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// Decodes the whole stream `repeats` times; returns pixels per second.
double decode_rate(const std::vector<uint8_t> &stream, int repeats, uint64_t *checksum) {
  lvx::LineDecoder d;
  const auto start = std::chrono::steady_clock::now();
  for (int r = 0; r < repeats; ++r) {
    d.start_image(kWidth, kHeight);
    const uint8_t *p = stream.data();
    size_t n = stream.size();
    while (d.extract(&p, &n) > 0) *checksum += d.line()[r % kWidth];
  }
  return static_cast<double>(kWidth) * kHeight * repeats / seconds_since(start);
}

// Copies the picture line by line `repeats` times; returns pixels per second.
double copy_rate(const std::vector<uint8_t> &pixels, int repeats, uint64_t *checksum) {
  std::vector<uint8_t> out(pixels.size());
  const auto start = std::chrono::steady_clock::now();
  for (int r = 0; r < repeats; ++r) {
    for (int y = 0; y < kHeight; ++y) {
      std::memcpy(out.data() + y * kWidth, pixels.data() + y * kWidth, kWidth);
    }
    *checksum += out[static_cast<size_t>(r) % out.size()];
  }
  return static_cast<double>(kWidth) * kHeight * repeats / seconds_since(start);
}

int g_images = 0;
void count_image(void *, int16_t, int16_t, const uint32_t *) {
  ++g_images;
}
int16_t large_view(void *, int16_t, int16_t) {
  return 1;
}

}  // namespace

int main(int argc, char **argv) {
  double seconds = 3;
  int fps = 30;
  int repeats = 400;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--seconds=", 10) == 0) {
      seconds = std::atof(argv[i] + 10);
    } else if (std::strncmp(argv[i], "--fps=", 6) == 0) {
      fps = std::atoi(argv[i] + 6);
    } else if (std::strncmp(argv[i], "--repeats=", 10) == 0) {
      repeats = std::atoi(argv[i] + 10);
    } else {
      std::fprintf(stderr, "usage: %s [--seconds=N] [--fps=N] [--repeats=N]\n", argv[0]);
      return 2;
    }
  }

  // Decompression.
  lvxsim::CameraScene scene;
  const lvxsim::CameraPicture pic = lvxsim::render_camera(scene, kWidth, kHeight);
  const std::vector<uint8_t> stream = lvxsim::imgcode::encode_image(pic.pixels, kWidth, kHeight);
  uint64_t checksum = 0;
  const double decoded = decode_rate(stream, repeats, &checksum);
  const double copied = copy_rate(pic.pixels, repeats, &checksum);
  std::printf("decompression of a %dx%d eye picture (%zu stream bytes for %d pixels):\n", kWidth,
              kHeight, stream.size(), kWidth * kHeight);
  std::printf("  line decoder  %8.1f Mpixel/s\n", decoded / 1e6);
  std::printf("  memcpy        %8.1f Mpixel/s   (decoder at %.1f%% of memcpy; checksum %llu)\n",
              copied / 1e6, 100.0 * decoded / copied, static_cast<unsigned long long>(checksum));

  // The camera-view loop.
  lvxsim::Config config;
  config.ip = kTrackerIp;
  config.record_packets = false;
  config.control.enabled = true;
  config.control.camera_fps = fps;
  lvxsim::SimTracker tracker(config);
  std::string error;
  if (!tracker.start(&error)) {
    std::fprintf(stderr, "cannot start the simulated tracker: %s\n", error.c_str());
    return 1;
  }
  lvx::set_local_addresses_for_testing(std::vector<lvx::IPv4>{kOwnIp});
  bench::point_library_at(tracker, "127.0.0.205");
  if (open_lumavex_connection(0) != 0) return 1;
  GraphicHooksV2 hooks{};
  hooks.major_version = 1;
  hooks.camera_image_hook = count_image;
  hooks.open_camera_view_hook = large_view;
  setup_graphic_hook_functions_V2(&hooks);

  tracker.control().enter_mode(lvxsim::kModeCameraImage);
  for (int i = 0; i < 1000 && (lumavex_current_mode() & IN_IMAGE_MODE) == 0; ++i) msec_delay(1);
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    tracker.control().enter_mode(lvxsim::kModeSetupMenu);
  });
  const auto start = std::chrono::steady_clock::now();
  image_mode_display();
  const double elapsed = seconds_since(start);
  stopper.join();
  const lvxsim::CameraStats stats = tracker.control().camera_stats();
  std::printf("camera view, %dx%d images, %.1f s:\n", stats.width, stats.height, elapsed);
  std::printf("  tracker camera  %6.1f images/s (its rate; %llu images sent in %llu segments)\n",
              static_cast<double>(fps), static_cast<unsigned long long>(stats.images),
              static_cast<unsigned long long>(stats.segments));
  std::printf("  shown           %6.1f images/s (%d images, %.0f%% of the camera's rate)\n",
              g_images / elapsed, g_images, 100.0 * g_images / elapsed / fps);
  close_lumavex_connection();
  tracker.stop();
  return g_images > 0 ? 0 : 1;
}
