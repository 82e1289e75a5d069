// The live window's two figures, on a virtual X server that the benchmark starts itself (Xvfb, on
// a display number the server picks), against the simulated tracker:
//  - the camera view's frame time: from the camera image hook's start (the library hands over a
//    whole 384 x 320 picture) to the window system having the frame: the picture scaled onto the
//    1024 x 768 display with its crosshair overlay and title, uploaded and presented; and the
//    images shown per second against the camera's rate. Baseline: showing an unchanged frame
//    (upload and present alone);
//  - gaze latency: from a sample's arrival at the library (its data-ready notice) to the frame
//    that shows its cursor, at two points: when SDL's present returned, and when the X server's
//    screen holds the cursor's pixels (read back with XGetImage on a connection of its own, for
//    frames whose cursor moved to a new place); with the sample's age at the same moment,
//    against the tracker's clock. Baseline: the frame's own time (drawing, upload, present).
//
//   bench_live_view [--seconds=N] [--fps=N] [--use-display]
//
// --use-display draws on the display DISPLAY names instead of starting Xvfb.
#include <SDL.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "link/transport.h"
#include "lumavex_core.h"
#include "lumavex_sdl.h"
#include "sim/tracker.h"
#include "sim/tracker_control.h"

namespace {

constexpr lvxsim::IPv4 kTrackerIp{127, 0, 3, 92};
constexpr lvx::IPv4 kOwnIp{127, 92, 3, 1};
constexpr int kWidth = 1024, kHeight = 768;

struct Spread {
  double median = 0, p95 = 0, max = 0;
  size_t n = 0;
};

Spread spread(std::vector<double> v) {
  Spread s;
  s.n = v.size();
  if (v.empty()) return s;
  std::sort(v.begin(), v.end());
  s.median = v[v.size() / 2];
  s.p95 = v[std::min(v.size() - 1, v.size() * 95 / 100)];
  s.max = v.back();
  return s;
}

void print(const char *what, const Spread &s) {
  std::printf("  %-44s median %6.2f ms   95%% %6.2f ms   max %6.2f ms   (%zu)\n", what, s.median,
              s.p95, s.max, s.n);
}

// Xvfb on a display number it picks (-displayfd); the display's name, or nothing.
std::optional<std::string> start_xvfb(pid_t *pid) {
  int fds[2];
  if (pipe(fds) != 0) return std::nullopt;
  *pid = fork();
  if (*pid == 0) {
    close(fds[0]);
    const std::string fd = std::to_string(fds[1]);
    const std::string screen = std::to_string(kWidth) + "x" + std::to_string(kHeight) + "x24";
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten",
           "tcp", static_cast<char *>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  char c = 0;
  while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  if (*pid < 0 || number.empty()) return std::nullopt;
  return ":" + number;
}

// The camera view for `seconds`: each image's frame time, and a baseline of plain presents.
void camera_view(lvxsim::SimTracker &tracker, lvxsdl::Window &window, double seconds, int fps) {
  std::vector<double> frame_ms;
  window.on_shown = [&](const lvxsdl::Shown &s) {
    if (s.what == lvxsdl::Shown::What::kCameraImage) {
      frame_ms.push_back((s.shown_us - s.started_us) / 1000.0);
    }
  };
  tracker.control().enter_mode(lvxsim::kModeCameraImage);
  for (int i = 0; i < 1000 && (lumavex_current_mode() & IN_IMAGE_MODE) == 0; ++i) msec_delay(1);
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    tracker.control().enter_mode(lvxsim::kModeSetupMenu);
  });
  const double start = current_double_usec();
  image_mode_display();
  const double elapsed = (current_double_usec() - start) / 1e6;
  stopper.join();
  window.on_shown = nullptr;

  std::vector<double> present_ms;
  for (int i = 0; i < 200; ++i) {
    const double t = current_double_usec();
    window.present();
    present_ms.push_back((current_double_usec() - t) / 1000.0);
  }
  const lvxsim::CameraStats stats = tracker.control().camera_stats();
  std::printf("camera view, %dx%d images on a %dx%d display, %.1f s:\n", stats.width, stats.height,
              kWidth, kHeight, elapsed);
  print("frame: image hook to frame shown", spread(frame_ms));
  print("baseline: showing an unchanged frame", spread(present_ms));
  std::printf("  shown %.1f images/s; the camera takes %d/s\n",
              static_cast<double>(frame_ms.size()) / elapsed, fps);
}

// Whether the X server's screen shows the cursor's red at (x, y).
bool red_at(Display *x, int sx, int sy) {
  XImage *img = XGetImage(x, DefaultRootWindow(x), sx, sy, 1, 1, AllPlanes, ZPixmap);
  if (img == nullptr) return false;
  const unsigned long p = XGetPixel(img, 0, 0);
  XDestroyImage(img);
  const unsigned long r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF;
  return r >= 200 && g < 100;
}

// The gaze view for `seconds` at `fps`, the eye steered to a new place every 150 ms.
void gaze(lvxsim::SimTracker &tracker, lvxsdl::Window &window, double seconds, int fps) {
  Display *x = XOpenDisplay(nullptr);
  int wx = 0, wy = 0;
  SDL_GetWindowPosition(window.sdl_window(), &wx, &wy);
  if (start_recording(0, 0, 1, 1) != 0) {
    std::printf("gaze: the tracker did not start recording\n");
    return;
  }
  lumavex_wait_for_block_start(1000, 1, 1);
  std::vector<double> to_present, to_screen, age, frame, round_trip;
  std::optional<std::pair<float, float>> last;
  {
    lvxsdl::GazeView view(window);
    view.on_frame = [&](const lvxsdl::GazeFrame &f) {
      frame.push_back((f.shown_us - f.drawn_us) / 1000.0);
      if (!f.has_sample || f.arrival_us <= 0) return;
      to_present.push_back((f.shown_us - f.arrival_us) / 1000.0);
      age.push_back(f.sample_age_ms);
      const bool moved = !last || std::abs(f.x - last->first) + std::abs(f.y - last->second) >
                                      4.0f * lvxsdl::GazeView::kCursorRadius;
      last = std::make_pair(f.x, f.y);
      if (x == nullptr || !moved) return;
      // Polled until the cursor's pixels are on the server's screen (at most 100 ms).
      const int sx = wx + static_cast<int>(f.x + 0.5f), sy = wy + static_cast<int>(f.y + 0.5f);
      for (int i = 0; i < 1000; ++i) {
        const double before = current_double_usec();
        const bool there = red_at(x, sx, sy);
        round_trip.push_back((current_double_usec() - before) / 1000.0);
        if (there) {
          to_screen.push_back((current_double_usec() - f.arrival_us) / 1000.0);
          break;
        }
        if (current_double_usec() - f.shown_us > 100e3) break;
      }
    };
    const double period_us = 1e6 / fps;
    const double start = current_double_usec();
    double next_move = start;
    int move = 0;
    for (double next = start; current_double_usec() - start < seconds * 1e6; next += period_us) {
      if (current_double_usec() >= next_move) {
        // Around a ring, so that every move is a saccade of several degrees.
        const double a = 2.0 * 3.14159265 * (move++ % 8) / 8.0;
        tracker.control().set_pointer(
            std::make_pair(kWidth / 2 + 250 * std::cos(a), kHeight / 2 + 200 * std::sin(a)));
        next_move += 150e3;
      }
      getkey();
      view.frame();
      const double wait_us = next - current_double_usec();
      if (wait_us > 0)
        std::this_thread::sleep_for(std::chrono::duration<double, std::micro>(wait_us));
    }
  }
  stop_recording();
  if (x != nullptr) XCloseDisplay(x);
  std::printf("gaze view, 1000 Hz samples, %d frames/s, %.1f s:\n", fps, seconds);
  print("sample arrival to present returned", spread(to_present));
  print("sample arrival to cursor on the X screen", spread(to_screen));
  print("sample age when the frame was presented", spread(age));
  print("baseline: the frame's own time", spread(frame));
  print("baseline: reading a pixel back (XGetImage)", spread(round_trip));
}

}  // namespace

int main(int argc, char **argv) {
  double seconds = 5;
  int fps = 60;
  bool use_display = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--seconds=", 10) == 0) {
      seconds = std::atof(argv[i] + 10);
    } else if (std::strncmp(argv[i], "--fps=", 6) == 0) {
      fps = std::max(1, std::atoi(argv[i] + 6));
    } else if (std::strcmp(argv[i], "--use-display") == 0) {
      use_display = true;
    } else {
      std::fprintf(stderr, "usage: %s [--seconds=N] [--fps=N] [--use-display]\n", argv[0]);
      return 2;
    }
  }
  pid_t xvfb = -1;
  if (!use_display) {
    const std::optional<std::string> display = start_xvfb(&xvfb);
    if (!display) {
      std::fprintf(stderr, "cannot start Xvfb\n");
      return 1;
    }
    setenv("DISPLAY", display->c_str(), 1);
  }
  setenv("SDL_AUDIODRIVER", "dummy", 0);

  lvxsim::Config config;
  config.ip = kTrackerIp;
  config.record_packets = false;
  config.control.enabled = true;
  config.control.follow_pointer = true;
  config.control.stream.screen_width = kWidth;
  config.control.stream.screen_height = kHeight;
  lvxsim::SimTracker tracker(config);
  std::string error;
  int status = 1;
  if (!tracker.start(&error)) {
    std::fprintf(stderr, "cannot start the simulated tracker: %s\n", error.c_str());
  } else {
    lvx::set_local_addresses_for_testing(std::vector<lvx::IPv4>{kOwnIp});
    bench::point_library_at(tracker, "127.0.3.92");
    lvxsdl::WindowOptions options;
    options.width = kWidth;
    options.height = kHeight;
    options.title = "bench_live_view";
    options.vsync = false;  // no refresh to wait for: the figures are the drawing's own
    lvxsdl::Window window(options);
    if (open_lumavex_connection(0) != 0) {
      std::fprintf(stderr, "cannot connect\n");
    } else if (!window.open(&error)) {
      std::fprintf(stderr, "no window: %s\n", error.c_str());
    } else {
      window.install();
      SDL_RendererInfo info{};
      SDL_GetRendererInfo(SDL_GetRenderer(window.sdl_window()), &info);
      std::printf("display %s (%s), SDL renderer %s\n", std::getenv("DISPLAY"),
                  use_display ? "DISPLAY" : "Xvfb started here", info.name);
      camera_view(tracker, window, seconds, config.control.camera_fps);
      gaze(tracker, window, seconds, fps);
      status = 0;
    }
    close_lumavex_connection();
    tracker.stop();
  }
  if (xvfb > 0) {
    kill(xvfb, SIGTERM);
    waitpid(xvfb, nullptr, 0);
  }
  return status;
}
