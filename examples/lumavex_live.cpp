// lumavex_live: camera setup, calibration, drift correction and live gaze in a real window
// (lumavex_sdl), against a tracker or the bundled simulated tracker.
//
//   lumavex_live [--setup] [--drift] [--gaze] [--sim | --address A[:PORT]] [--mouse-gaze]
//                [--seconds N] [--keys "..."] [--size WxH] [--fullscreen] [--calibration N]
//                [--fps N] [--no-sound] [--trace]
//
// The modes run in this order, each that is asked for (without any: --setup, then --gaze):
//   --setup  camera setup as the tracker's operator runs it with keys: Enter shows the camera
//            image (Enter again goes back), the arrows switch cameras and move the threshold, a
//            click in the image moves the search area, c calibrates, v validates, Enter or space
//            accepts a target, Escape leaves setup;
//   --drift  one drift correction at the centre (Enter or space accepts, Escape goes to setup);
//   --gaze   the newest sample as a red cursor, fixations marked as they end, and the time from
//            a sample's arrival to the frame that shows it; Escape ends it.
//
// --sim starts the simulated tracker in this process on a loopback address (--address, default
// 127.0.0.2) and a free port; its eye looks at the targets, and with --mouse-gaze wherever the
// mouse points in the window: the pointer goes to the tracker as "gaze_pointer X Y" node messages,
// so the samples, fixations and saccades follow the hand. Without --sim it connects to the
// tracker at --address (default the library's). --seconds ends the program after N seconds;
// --keys plays a key script (see lumavex_sdl.h: keys, pauses such as 500ms, mouse:X,Y, @camera,
// @target); --trace prints what the window showed, one line each, for tests.
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "lumavex_core.h"
#include "lumavex_sdl.h"
#include "sim/tracker.h"
#include "sim/tracker_control.h"

namespace {

struct Options {
  bool setup = false, drift = false, gaze = false;
  bool sim = false;
  std::string address;  // empty: 127.0.0.2 with --sim, else the library's default
  int port = 0;         // the tracker's link port; 0: a free one (--sim) or the default
  bool mouse_gaze = false;
  double seconds = 0;  // 0: no limit
  std::string keys;
  int width = 1024, height = 768;
  bool fullscreen = false;
  int calibration = 9;
  int fps = 60;
  bool sound = true;
  bool trace = false;
};

void usage(const char *program) {
  std::fprintf(stderr,
               "usage: %s [--setup] [--drift] [--gaze] [--sim | --address A[:PORT]] "
               "[--mouse-gaze] [--seconds N] [--keys \"...\"] [--size WxH] [--fullscreen] "
               "[--calibration 3|5|9|13] [--fps N] [--no-sound] [--trace]\n",
               program);
}

bool parse(int argc, char **argv, Options *o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool has_value = i + 1 < argc;
    if (a == "--setup") {
      o->setup = true;
    } else if (a == "--drift") {
      o->drift = true;
    } else if (a == "--gaze") {
      o->gaze = true;
    } else if (a == "--sim") {
      o->sim = true;
    } else if (a == "--mouse-gaze") {
      o->mouse_gaze = true;
    } else if (a == "--fullscreen") {
      o->fullscreen = true;
    } else if (a == "--no-sound") {
      o->sound = false;
    } else if (a == "--trace") {
      o->trace = true;
    } else if (a == "--address" && has_value) {
      std::string v = argv[++i];
      const size_t colon = v.find(':');
      if (colon != std::string::npos) {
        o->port = std::atoi(v.c_str() + colon + 1);
        if (o->port <= 0 || o->port > 65535) return false;
        v.resize(colon);
      }
      o->address = v;
    } else if (a == "--seconds" && has_value) {
      o->seconds = std::atof(argv[++i]);
      if (!(o->seconds > 0)) return false;
    } else if (a == "--keys" && has_value) {
      o->keys = argv[++i];
    } else if (a == "--size" && has_value) {
      if (std::sscanf(argv[++i], "%dx%d", &o->width, &o->height) != 2 || o->width < 320 ||
          o->height < 240 || o->width > 8192 || o->height > 8192) {
        return false;
      }
    } else if (a == "--calibration" && has_value) {
      o->calibration = std::atoi(argv[++i]);
      if (o->calibration != 3 && o->calibration != 5 && o->calibration != 9 &&
          o->calibration != 13) {
        return false;
      }
    } else if (a == "--fps" && has_value) {
      o->fps = std::atoi(argv[++i]);
      if (o->fps < 1 || o->fps > 1000) return false;
    } else {
      return false;
    }
  }
  if (!o->setup && !o->drift && !o->gaze) o->setup = o->gaze = true;
  return true;
}

// Prints a line for the tests that watch the program (only with --trace).
bool g_trace = false;
__attribute__((format(printf, 1, 2))) void trace(const char *format, ...) {
  if (!g_trace) return;
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::printf("\n");
  std::fflush(stdout);
}

std::unique_ptr<lvxsim::SimTracker> start_sim(const Options &o, const std::string &address) {
  LVXADDR parsed{};
  if (text_to_lvxaddr(address.c_str(), &parsed, 0) != 0 || parsed.addr[0] != 127) {
    std::fprintf(stderr, "the simulated tracker runs on loopback: give a 127.x.y.z address\n");
    return nullptr;
  }
  lvxsim::Config c;
  std::memcpy(c.ip.data(), parsed.addr, 4);
  c.udp_port = static_cast<uint16_t>(o.port);
  c.node_name = "live-tracker";
  c.record_packets = false;  // it runs for as long as the window is open
  c.control.enabled = true;
  c.control.follow_pointer = o.mouse_gaze;
  c.control.calibration_points = o.calibration;
  c.control.stream.screen_width = o.width;
  c.control.stream.screen_height = o.height;
  auto sim = std::make_unique<lvxsim::SimTracker>(c);
  std::string error;
  if (!sim->start(&error)) {
    std::fprintf(stderr, "cannot start the simulated tracker: %s\n", error.c_str());
    return nullptr;
  }
  return sim;
}

// The gaze mode: a recording with samples and events over the link, shown until Escape, the
// window's end or the time limit.
void run_gaze(lvxsdl::Window &window, const Options &o, const bool &time_up) {
  if (start_recording(0, 0, 1, 1) != 0) {
    std::printf("gaze: the tracker did not start recording\n");
    return;
  }
  lumavex_wait_for_block_start(1000, 1, 1);
  lvxsdl::GazeView view(window);
  double latency_sum = 0;
  int latency_count = 0;
  view.on_frame = [&](const lvxsdl::GazeFrame &f) {
    if (f.has_sample) {
      trace("gaze-frame %d %.1f %.1f", view.frames(), static_cast<double>(f.x),
            static_cast<double>(f.y));
    }
    if (f.arrival_us > 0) {
      latency_sum += (f.shown_us - f.arrival_us) / 1000.0;
      ++latency_count;
    }
  };
  const auto period = std::chrono::microseconds(1000000 / o.fps);
  auto next = std::chrono::steady_clock::now();
  while (!time_up && !window.closed() && application_terminated() == 0) {
    const uint32_t key = getkey() & 0xFFFFu;  // polls the window
    if (key == 27 || key == TERMINATE_KEY) break;
    view.frame();
    next += period;
    const auto now = std::chrono::steady_clock::now();
    if (next < now) next = now;
    std::this_thread::sleep_until(next);
  }
  stop_recording();
  std::printf("gaze: %d frames, %d fixations, arrival to screen %.1f ms on average\n",
              view.frames(), view.fixations(),
              latency_count > 0 ? latency_sum / latency_count : 0.0);
}

}  // namespace

int main(int argc, char **argv) {
  Options o;
  if (!parse(argc, argv, &o)) {
    usage(argv[0]);
    return 2;
  }
  std::vector<lvxsdl::ScriptStep> script;
  std::string error;
  if (!lvxsdl::parse_script(o.keys, &script, &error)) {
    std::fprintf(stderr, "--keys: %s\n", error.c_str());
    return 2;
  }
  g_trace = o.trace;

  // The tracker: the simulated one here, or the one at the address given.
  std::string address = o.address;
  std::unique_ptr<lvxsim::SimTracker> sim;
  int port = o.port;
  if (o.sim) {
    if (address.empty()) address = "127.0.0.2";
    sim = start_sim(o, address);
    if (!sim) return 1;
    port = sim->udp_endpoint().port;
    std::printf("simulated tracker on %s%s\n", sim->udp_endpoint().to_string().c_str(),
                o.mouse_gaze ? ", its eye following the mouse" : "");
  }
  const std::string options = port > 0 ? "eyeport=" + std::to_string(port) : std::string();
  if (open_lumavex_system(0, options.c_str()) == 0) {
    std::fprintf(stderr, "cannot open the link\n");
    return 1;
  }
  if (!address.empty()) set_lumavex_address(address.c_str());
  if (open_lumavex_connection(0) != 0) {
    std::fprintf(stderr, "no tracker answered at %s\n",
                 address.empty() ? "the default address" : address.c_str());
    return 1;
  }
  char version[40] = {};
  lumavex_get_tracker_version(version);
  std::printf("connected to \"%s\"\n", version);
  eyecmd_printf("screen_pixel_coords = 0 0 %d %d", o.width - 1, o.height - 1);
  eyecmd_printf("calibration_type = HV%d", o.calibration);

  lvxsdl::WindowOptions wo;
  wo.width = o.width;
  wo.height = o.height;
  wo.fullscreen = o.fullscreen;
  wo.title = "lumavex_live";
  wo.sound = o.sound;
  wo.show_cursor = !o.fullscreen || o.mouse_gaze;  // the participant's screen shows no pointer
  lvxsdl::Window window(wo);
  if (!window.open(&error)) {
    std::fprintf(stderr, "no window: %s\n", error.c_str());
    close_lumavex_connection();
    return 1;
  }
  window.install();

  // What the window showed, for --trace.
  window.on_shown = [&](const lvxsdl::Shown &s) {
    lvxcanvas::ReferenceDisplay &c = window.canvas();
    switch (s.what) {
      case lvxsdl::Shown::What::kCameraImage:
        trace("camera-image %d", c.camera_images());
        break;
      case lvxsdl::Shown::What::kTarget:
        trace("target %.1f %.1f", static_cast<double>(c.target_x()),
              static_cast<double>(c.target_y()));
        break;
      case lvxsdl::Shown::What::kBlank:
        trace("blank");
        break;
      default:
        break;
    }
  };
  window.on_step = [&](const lvxsdl::ScriptStep &s) { trace("step %s", s.text.c_str()); };

  // The time limit, and the pointer to the tracker's eye (at most every 10 ms, when it moved).
  const LVXADDR tracker_node = lumavex_data_status()->tracker_address;  // the one connected to
  const auto start = std::chrono::steady_clock::now();
  bool time_up = false;
  std::optional<std::pair<int, int>> sent;
  auto sent_at = start;
  window.on_pump = [&](lvxsdl::Window &w) {
    const auto now = std::chrono::steady_clock::now();
    if (o.seconds > 0 && !time_up && now - start >= std::chrono::duration<double>(o.seconds)) {
      time_up = true;
      terminal_break(1);  // ends the library's loops
    }
    const auto p = w.pointer();
    if (o.mouse_gaze && p && p != sent && now - sent_at >= std::chrono::milliseconds(10)) {
      char text[64];
      const int n = std::snprintf(text, sizeof text, "gaze_pointer %d %d", p->first, p->second);
      lumavex_node_send(&tracker_node, text, static_cast<uint16_t>(n));
      sent = p;
      sent_at = now;
      trace("pointer %d %d", p->first, p->second);
    }
  };
  window.play(std::move(script));
  trace("ready %d %d", o.width, o.height);

  if (o.setup && !time_up) {
    const int16_t r = do_tracker_setup();
    char message[256] = {};
    lumavex_cal_message(message);
    std::printf("setup: %d (%s); camera images %d, targets %d; last report \"%s\"\n", r,
                r == 0 ? "left setup" : lumavex_get_error(r, "do_tracker_setup"),
                window.canvas().camera_images(), window.canvas().targets_drawn(), message);
    trace("result setup %d", r);
  }
  if (o.drift && !time_up && application_terminated() == 0) {
    const int16_t r =
        do_drift_correctf(static_cast<float>(o.width) / 2, static_cast<float>(o.height) / 2, 1, 1);
    char message[256] = {};
    lumavex_cal_message(message);
    std::printf("drift correction: %d; \"%s\"\n", r, message);
    trace("result drift %d", r);
  }
  if (o.gaze && !time_up && application_terminated() == 0) run_gaze(window, o, time_up);

  terminal_break(0);
  close_lumavex_connection();
  if (sim) sim->stop();
  trace("done");
  return 0;
}
