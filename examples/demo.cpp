// The demo: a simulated tracker on loopback, and a display program that connects to it the way an
// experiment does, then reports what each side saw.
//
//   lumavex_demo [--address 127.0.0.2] [--port 0] [--model "LUMAVEX RX 5.7"]
//                [--offset-ms 1234.5] [--tcp] [--trial-seconds 2] [--output DIR]
//                [--calibration 3|5|9|13]
//
// The simulated tracker listens on --port (0, the default: a free port the system chooses, so
// that the demo runs as an ordinary user); the library learns the port through its "eyeport"
// option. Over TCP (--tcp) the tracker listens on the TCP link port a real tracker uses.
//
// Before the trial it runs camera setup through the reference display (lumavex_canvas): the
// camera view, a calibration and a validation driven by scripted keys, then a drift correction,
// and saves PNG snapshots of the camera view and of a calibration target into the output folder.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "lumavex_canvas.h"
#include "lumavex_core.h"
#include "sim/tracker.h"
#include "sim/tracker_control.h"

namespace {

struct Options {
  std::string address = "127.0.0.2";
  int port = 0;
  std::string model = "LUMAVEX RX 5.7";
  double offset_ms = 123456.789;
  bool tcp = false;
  int stream_seconds = 2;
  std::string output;  // snapshots; empty: a folder under the temporary directory
  int calibration_points = 9;
};

bool parse(int argc, char **argv, Options *o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    bool has_value = i + 1 < argc;
    if (a == "--address" && has_value) {
      o->address = argv[++i];
    } else if (a == "--port" && has_value) {
      o->port = std::atoi(argv[++i]);
    } else if (a == "--model" && has_value) {
      o->model = argv[++i];
    } else if (a == "--offset-ms" && has_value) {
      o->offset_ms = std::atof(argv[++i]);
    } else if (a == "--trial-seconds" && has_value) {
      o->stream_seconds = std::atoi(argv[++i]);
    } else if (a == "--output" && has_value) {
      o->output = argv[++i];
    } else if (a == "--calibration" && has_value) {
      o->calibration_points = std::atoi(argv[++i]);
    } else if (a == "--tcp") {
      o->tcp = true;
    } else {
      std::fprintf(stderr,
                   "usage: %s [--address 127.0.0.N] [--port N] [--model TEXT] [--offset-ms MS] "
                   "[--tcp] [--trial-seconds N] [--output DIR] [--calibration 3|5|9|13]\n",
                   argv[0]);
      return false;
    }
  }
  return true;
}

void show_result(const char *what, int16_t result, const char *function) {
  const char *text = lumavex_get_error(result, function);
  std::printf("  %-44s -> %d%s%s%s\n", what, result, text && *text ? " (\"" : "",
              text && *text ? text : "", text && *text ? "\")" : "");
}

// Sends the kind of commands and messages an experiment sends, then shows what the tracker got.
void run_commands_and_messages(lvxsim::SimTracker &tracker) {
  tracker.clear_received();
  std::printf("commands:\n");
  show_result("screen_pixel_coords = 0 0 1023 767",
              lumavex_timed_command(1000, "screen_pixel_coords = 0 0 1023 767"),
              "lumavex_timed_command");
  show_result("calibration_type = HV9", eyecmd_printf("calibration_type = HV%d", 9),
              "eyecmd_printf");
  show_result("sample_rate 333", lumavex_timed_command(1000, "sample_rate 333"),
              "lumavex_timed_command");
  show_result("make_coffee now", lumavex_timed_command(1000, "make_coffee now"),
              "lumavex_timed_command");

  std::string long_text = "DISPLAY_COORDS_AND_NOTES";
  for (int i = 0; long_text.size() < 600; ++i) long_text += " item_" + std::to_string(i);
  lumavex_send_message("TRIALID 1");
  eyemsg_printf_ex(-20, "DISPLAY ON (shown 20 ms before this call) %d", 1);
  eyemsg_printf("condition A\nblock 2\n");
  lumavex_send_message(long_text.c_str());
  tracker.wait_for_messages(5, 2000);

  std::printf("tracker's command log:\n");
  for (const std::string &c : tracker.command_log()) std::printf("  \"%s\"\n", c.c_str());
  std::printf("tracker's recording file (time stamp in tracker ms, offset the message carried):\n");
  for (const lvxsim::RecordedMessage &m : tracker.recorded_messages()) {
    std::string shown = m.text.size() > 70 ? m.text.substr(0, 70) + "..." : m.text;
    std::printf("  MSG %lld (offset %d) %s", static_cast<long long>(m.time_ms), m.offset_ms,
                shown.c_str());
    if (m.text.size() > 70) std::printf("  [%zu characters, sent in pieces]", m.text.size());
    std::printf("\n");
  }
}

// Runs a trial the way an experiment does: idle, recording with file and link data, a few
// seconds of samples with messages along the way, stop, idle. Reports what arrived and the
// tracker's clock against the local clock's offset estimate.
void run_trial(lvxsim::SimTracker &tracker, int seconds) {
  if (seconds <= 0) return;
  std::printf("trial: %d s of recording\n", seconds);
  lumavex_abort();                          // idle first
  int16_t r = lumavex_data_start(0x0F, 0);  // samples and events to file and link
  std::printf("  data start -> %d, mode bits 0x%04x\n", r, lumavex_current_mode());
  if (r != 0 || lumavex_wait_for_block_start(1000, 1, 1) != 1) {
    std::printf("  recording did not start\n");
    return;
  }
  std::printf("  recording eye %d at %d Hz\n", lumavex_eye_available(),
              lumavex_data_status()->sample_rate_x10 / 10);
  eyemsg_printf("TRIALID %d", 1);
  long samples = 0, events = 0, lost = 0, other = 0;
  double sum_x = 0, sum_y = 0;
  long gaze_count = 0;
  float_data slots[100];
  uint32_t start = current_time();
  uint32_t end = start + static_cast<uint32_t>(seconds) * 1000;
  bool halfway = false;
  while (static_cast<int32_t>(current_time() - end) < 0) {
    if (!halfway && current_time() - start >= static_cast<uint32_t>(seconds) * 500) {
      eyemsg_printf("DISPLAY_CHANGE halfway");
      halfway = true;
    }
    int n = lumavex_wait_for_next_data(slots, 100, 5);
    for (int i = 0; i < n; ++i) {
      const float_data &d = slots[i];
      if (d.head.type == EV_SAMPLE) {
        ++samples;
        for (int eye = 0; eye < 2; ++eye) {
          if (d.fs.gaze_x[eye] == MISSING_VALUE || d.fs.gaze_y[eye] == MISSING_VALUE) continue;
          sum_x += static_cast<double>(d.fs.gaze_x[eye]);
          sum_y += static_cast<double>(d.fs.gaze_y[eye]);
          ++gaze_count;
        }
      } else if (d.head.type >= 1 && d.head.type <= 10) {
        ++events;
      } else if (d.head.type == EV_LOST_DATA) {
        ++lost;
      } else {
        ++other;
      }
    }
  }
  eyemsg_printf("TRIAL_RESULT 0");
  lumavex_data_stop();
  std::printf("  data stop, mode bits 0x%04x\n", lumavex_current_mode());
  std::printf("  samples read %ld (tracker sent %llu), parsed events %ld, other records %ld\n",
              samples, static_cast<unsigned long long>(tracker.stream_stats().samples), events,
              other);
  std::printf("  lost-data records %ld\n", lost);
  if (gaze_count > 0) {
    std::printf("  mean gaze (%.1f, %.1f) px over %ld eye samples\n",
                sum_x / static_cast<double>(gaze_count), sum_y / static_cast<double>(gaze_count),
                gaze_count);
  }
  lumavex_request_time();
  uint32_t tracker_ms = 0;
  for (int i = 0; i < 100 && tracker_ms == 0; ++i) tracker_ms = lumavex_read_time();
  std::printf("  tracker time %u ms; local time %u ms + offset estimate %.3f ms = %.1f ms\n",
              tracker_ms, current_time(), lumavex_double_msec_offset(),
              current_double_usec() / 1000.0 + lumavex_double_msec_offset());
}

// ---- Camera setup through the reference display ----

std::string snapshot_folder(const std::string &chosen) {
  if (!chosen.empty()) return chosen;
  const char *tmp = std::getenv("TMPDIR");
  return std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/lumavex_demo";
}

void save_snapshot(const lvxcanvas::ReferenceDisplay &d, const std::string &path,
                   const char *what) {
  std::string error;
  if (d.save_png(path, &error)) {
    std::printf("  snapshot of %s: %s\n", what, path.c_str());
  } else {
    std::printf("  snapshot of %s not written: %s\n", what, error.c_str());
  }
}

// Keys pressed the way an operator would: a few input polls after what they react to appeared.
class SetupScript {
 public:
  SetupScript(lvxsim::SimTracker &tracker, std::string folder)
      : tracker_(tracker), folder_(std::move(folder)) {}

  void on_poll(lvxcanvas::ReferenceDisplay &d) {
    const int points = tracker_.control().calibration_points();
    switch (step_) {
      case kStart:
        if (d.polls() > 3) {
          d.press_key(13);  // Enter: the camera image
          step_ = kCamera;
        }
        break;
      case kCamera:
        if (d.camera_images() >= 15) {
          save_snapshot(d, folder_ + "/camera_view.png", "the camera view with crosshairs");
          d.press_key('c');  // calibrate
          step_ = kCalibrate;
        }
        break;
      case kCalibrate:
      case kValidate:
        if (d.target_shown() && d.targets_drawn() > accepted_) {
          if (seen_ != d.targets_drawn()) {
            seen_ = d.targets_drawn();
            seen_at_ = d.polls();
          } else if (d.polls() > seen_at_ + 5) {
            if (step_ == kCalibrate && accepted_ == 1)
              save_snapshot(d, folder_ + "/calibration_target.png", "a calibration target");
            accepted_ = d.targets_drawn();
            d.press_key(13);  // Enter accepts the fixation
          }
        }
        if (step_ == kCalibrate &&
            tracker_.control().last_calibration().size() == static_cast<size_t>(points) &&
            tracker_.control().mode() == lvxsim::kModeSetupMenu) {
          d.press_key('v');  // validate
          step_ = kValidate;
        } else if (step_ == kValidate && tracker_.control().last_validation() &&
                   tracker_.control().mode() == lvxsim::kModeSetupMenu) {
          d.press_key(27);  // Escape leaves setup
          step_ = kDone;
        }
        break;
      case kDone:
        break;
    }
  }

 private:
  enum Step { kStart, kCamera, kCalibrate, kValidate, kDone };
  lvxsim::SimTracker &tracker_;
  std::string folder_;
  Step step_ = kStart;
  int accepted_ = 0, seen_ = 0, seen_at_ = 0;
};

// Camera setup (camera view, calibration, validation), then a drift correction, all through the
// reference display, with scripted keys.
void run_camera_setup(lvxsim::SimTracker &tracker, const std::string &chosen_folder) {
  const std::string folder = snapshot_folder(chosen_folder);
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  std::printf("camera setup (snapshots in %s):\n", folder.c_str());
  static lvxcanvas::ReferenceDisplay display(1024, 768);
  display.install();
  SetupScript script(tracker, folder);
  display.on_poll = [&](lvxcanvas::ReferenceDisplay &d) { script.on_poll(d); };
  const int16_t setup = do_tracker_setup();
  std::printf("  do_tracker_setup -> %d, camera images shown %d, targets drawn %d\n", setup,
              display.camera_images(), display.targets_drawn());
  std::printf("  last camera title: \"%s\"\n", display.title().c_str());
  if (auto v = tracker.control().last_validation()) {
    std::printf("  validation: %s\n", v->text.c_str());
    for (size_t i = 0; i < v->points.size(); ++i) {
      std::printf("    point %zu at (%.0f, %.0f): error %.2f deg\n", i + 1,
                  static_cast<double>(v->points[i].target_x),
                  static_cast<double>(v->points[i].target_y), v->points[i].error_deg);
    }
  }

  int accepted_at = -1;
  display.on_poll = [&](lvxcanvas::ReferenceDisplay &d) {
    if (accepted_at < 0 && d.target_shown()) accepted_at = d.polls() + 5;
    if (d.polls() == accepted_at) d.press_key(13);
  };
  const int16_t drift = do_drift_correctf(512.0f, 384.0f, 1, 0);
  char message[100] = {};
  lumavex_cal_message(message);
  std::printf("  do_drift_correctf(512, 384) -> %d: \"%s\"\n", drift, message);
  display.on_poll = nullptr;
}

}  // namespace

int main(int argc, char **argv) {
  Options opt;
  if (!parse(argc, argv, &opt)) return 2;

  lvxsim::Config config;
  LVXADDR parsed{};
  if (text_to_lvxaddr(opt.address.c_str(), &parsed, 0) != 0 || parsed.addr[0] != 127) {
    std::fprintf(stderr, "the demo's tracker runs on loopback: give a 127.x.y.z address\n");
    return 2;
  }
  std::memcpy(config.ip.data(), parsed.addr, 4);
  config.version_text = opt.model;
  config.node_name = "demo-tracker";
  config.udp_port = static_cast<uint16_t>(opt.port);
  config.enable_tcp = opt.tcp;
  config.tcp_port = LUMAVEX_TRACKER_TCP_PORT;
  config.clock_offset_us = static_cast<int64_t>(opt.offset_ms * 1000.0);
  config.control.enabled = true;  // a tracker with its mode machine
  config.control.calibration_points = opt.calibration_points;
  lvxsim::SimTracker tracker(config);
  std::string error;
  if (!tracker.start(&error)) {
    std::fprintf(stderr, "cannot start the simulated tracker: %s\n", error.c_str());
    return 1;
  }
  std::printf("simulated tracker: %s (%s) on %s%s\n", config.node_name.c_str(), opt.model.c_str(),
              tracker.udp_endpoint().to_string().c_str(), opt.tcp ? ", TCP link" : "");

  // The tracker's clock runs on the machine's monotonic clock plus its offset, so reading the
  // library's clock from the same origin makes the estimate show that offset.
  lumavex_set_clock_base(QX_CLOCK_BASE_MACHINE_LOCAL);
  if (opt.tcp) set_lumavex_tcp_only(1);
  // The tracker's UDP port goes in the link's options.
  const std::string options = "eyeport=" + std::to_string(tracker.udp_endpoint().port);
  if (open_lumavex_system(0, options.c_str()) == 0) {
    std::fprintf(stderr, "cannot open the link\n");
    return 1;
  }
  set_lumavex_address(opt.address.c_str());
  if (open_lumavex_connection(0) != 0) {
    std::fprintf(stderr, "connection failed\n");
    return 1;
  }
  lumavex_set_name("demo-display");

  char version[40] = {};
  int generation = lumavex_get_tracker_version(version);
  std::printf("connected: is_connected=%d generation=%d version=\"%s\"\n", lumavex_is_connected(),
              generation, version);

  // Let a few link updates arrive so that the clock estimate settles.
  msec_delay(300);
  std::printf("local time %u ms, tracker time estimate %u ms\n", current_time(),
              lumavex_tracker_msec());
  std::printf("tracker clock offset estimate %.3f ms (simulated offset %.3f ms)\n",
              lumavex_double_msec_offset(), opt.offset_ms);

  LVXADDR node{};
  text_to_lvxaddr(opt.address.c_str(), &node, 0);
  const char message[] = "hello tracker, this is the display";
  int16_t sent = lumavex_node_send(&node, message, sizeof message - 1);
  std::printf("node message sent: result %d\n", sent);
  for (int i = 0; i < 100 && tracker.node_messages().empty(); ++i) msec_delay(5);
  for (const lvxsim::NodeMessage &m : tracker.node_messages()) {
    std::printf("tracker received node message from %s: \"%.*s\"\n", m.from.to_string().c_str(),
                static_cast<int>(m.payload.size()),
                reinterpret_cast<const char *>(m.payload.data()));
  }

  run_commands_and_messages(tracker);
  run_camera_setup(tracker, opt.output);
  run_trial(tracker, opt.stream_seconds);

  close_lumavex_connection();
  std::printf("closed: is_connected=%d\n", lumavex_is_connected());
  std::printf("tracker received %zu packets in all\n", tracker.received().size());
  tracker.stop();
  return 0;
}
