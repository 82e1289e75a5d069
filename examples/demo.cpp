// The demo: a simulated tracker on loopback, and a display program that connects to it the way an
// experiment does, then reports what each side saw.
//
//   lumavex_demo [--address 127.0.0.2] [--port 0] [--model "LUMAVEX RX 5.7"]
//                [--offset-ms 1234.5] [--tcp] [--trial-seconds 2] [--output DIR]
//                [--calibration 3|5|9|13] [--monitor]
//
// The simulated tracker listens on --port (0, the default: a free port the system chooses, so
// that the demo runs as an ordinary user); the library learns the port through its "eyeport"
// option. Over TCP (--tcp) the tracker listens on the TCP link port a real tracker uses.
//
// Everything it writes goes into one folder: --output DIR, or else a new folder of the user's own
// (under $XDG_RUNTIME_DIR when that is set and writable, else under $TMPDIR or /tmp), printed at
// the start. It exits with 1 when any step failed, naming the steps at the end.
//
// Before the trial it runs camera setup through the reference display (lumavex_canvas): the
// camera view, a calibration and a validation driven by scripted keys, then a drift correction,
// and saves PNG snapshots of the camera view and of a calibration target into the output folder
// (when built with libpng).
// The trial that follows reads the stream and sums it up, with the peak velocity of the saccades
// it saw (the library's velocity from the newest samples, beside the tracker's saccade events)
// and one sample's href converted to gaze beside the tracker's own gaze.
// Then it renders a simple scene, sends it to the tracker as the backdrop of its operator display
// and saves the tracker's reassembled copy beside them (backdrop.png).
// After it, a short experiment: three trials into the tracker's recording file, with a local
// message file written into the output folder.
//
// At the end it downloads the recording from the tracker's file service (on a port the
// system chose, given to the library with the "fileport" option) with a progress bar of its own,
// and shows where the file landed, its size and that its checksum matched.
//
// With --monitor the experiment shares its link: it connects as the relay master (its socket in
// the output folder, the working folder from then on) and starts a second program beside it, this
// demo again as a relay slave, which prints a line of gaze position and velocity twice a second
// while samples flow, and ends when the experiment closes the link.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "lumavex_canvas.h"
#if LVX_DEMO_SNAPSHOTS
#include "lumavex_canvas_png.h"
#endif
#include "lumavex_core.h"
#include "sim/tracker.h"
#include "sim/tracker_control.h"

extern char **environ;

namespace {

struct Options {
  std::string address = "127.0.0.2";
  int port = 0;
  std::string model = "LUMAVEX RX 5.7";
  double offset_ms = 123456.789;
  bool tcp = false;
  int stream_seconds = 2;
  std::string output;  // everything written; empty: a new folder of the user's own
  int calibration_points = 9;
  bool monitor = false;        // share the link with a gaze monitor in a program of its own
  bool monitor_slave = false;  // be that monitor (started by the demo itself)
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
    } else if (a == "--monitor") {
      o->monitor = true;
    } else if (a == "--monitor-slave") {
      o->monitor_slave = true;
    } else {
      std::fprintf(stderr,
                   "usage: %s [--address 127.0.0.N] [--port N] [--model TEXT] [--offset-ms MS] "
                   "[--tcp] [--trial-seconds N] [--output DIR] [--calibration 3|5|9|13] "
                   "[--monitor]\n",
                   argv[0]);
      return false;
    }
  }
  return true;
}

// The steps that failed, for the summary and the exit status.
std::vector<std::string> g_failed;

void failed(const std::string &step) {
  g_failed.push_back(step);
}

// A new folder only this user can enter: under $XDG_RUNTIME_DIR when it is set and writable,
// else under $TMPDIR or /tmp. Empty (with the reason printed) when none can be made.
std::string make_output_folder() {
  std::vector<std::string> bases;
  for (const char *name : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
    const char *v = std::getenv(name);
    if (v != nullptr && *v != '\0' && access(v, W_OK | X_OK) == 0) bases.emplace_back(v);
  }
  bases.emplace_back("/tmp");
  for (const std::string &base : bases) {
    std::string pattern = base + "/lumavex_demo.XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) return pattern;
  }
  std::fprintf(stderr, "demo: cannot make a folder under %s: %s\n", bases.back().c_str(),
               std::strerror(errno));
  return {};
}

// The tracker's mode in words, with its bits.
std::string mode_in_words(int16_t bits) {
  struct Name {
    int bit;
    const char *name;
  };
  const Name names[] = {
      {IN_DISCONNECT_MODE, "not connected"},
      {IN_IDLE_MODE, "idle"},
      {IN_SETUP_MODE, "camera setup"},
      {IN_RECORD_MODE, "recording"},
      {IN_PLAYBACK_MODE, "playing back"},
      {IN_TARGET_MODE, "showing targets"},
      {IN_DRIFTCORR_MODE, "drift correction"},
      {IN_IMAGE_MODE, "camera image"},
      {IN_USER_MENU, "user menu"},
  };
  std::string words;
  for (const Name &n : names) {
    if ((bits & n.bit) == 0) continue;
    if (!words.empty()) words += ", ";
    words += n.name;
  }
  char code[16];
  std::snprintf(code, sizeof code, " (0x%04x)", static_cast<unsigned>(bits) & 0xFFFFu);
  return (words.empty() ? std::string("none") : words) + code;
}

const char *eye_in_words(int eye) {
  switch (eye) {
    case LUMAVEX_EYE_LEFT:
      return "left";
    case LUMAVEX_EYE_RIGHT:
      return "right";
    case LUMAVEX_EYE_BOTH:
      return "both (binocular)";
    default:
      return "none (not recording)";
  }
}

const char *link_in_words(int state) {
  switch (state) {
    case 0:
      return "not connected";
    case 1:
      return "connected";
    case 2:
      return "listening to a tracker another program controls";
    case -1:
      return "dummy mode (no tracker)";
    default:
      return "connected through another program";
  }
}

// A command's result: 0 means the tracker did it; anything else with the library's text for it.
void show_result(const char *what, int16_t result, const char *function) {
  const char *text = lumavex_get_error(result, function);
  if (result == OK_RESULT) {
    std::printf("  %-38s -> done (0)\n", what);
  } else {
    std::printf("  %-38s -> refused: %d \"%s\"\n", what, result, text != nullptr ? text : "?");
  }
}

// Sends the kind of commands and messages an experiment sends, then shows what the tracker got.
void run_commands_and_messages(lvxsim::SimTracker &tracker) {
  tracker.clear_received();
  std::printf("\nCommands (the tracker answers each with a result code; 0 means done):\n");
  int16_t r = lumavex_timed_command(1000, "screen_pixel_coords = 0 0 1023 767");
  show_result("screen_pixel_coords = 0 0 1023 767", r, "lumavex_timed_command");
  if (r != OK_RESULT) failed("screen_pixel_coords");
  r = eyecmd_printf("calibration_type = HV%d", 9);
  show_result("calibration_type = HV9", r, "eyecmd_printf");
  if (r != OK_RESULT) failed("calibration_type");
  // The next two show refusals: a value the tracker does not take, and an unknown command.
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

  std::printf("The commands as the tracker received them:\n");
  for (const std::string &c : tracker.command_log()) std::printf("  \"%s\"\n", c.c_str());
  std::printf(
      "\nMessages in the tracker's recording file (MSG, the tracker's time in ms, the text; a\n"
      "message can move its stamp to the moment its event really happened):\n");
  for (const lvxsim::RecordedMessage &m : tracker.recorded_messages()) {
    std::string shown = m.text.size() > 60 ? m.text.substr(0, 60) + "..." : m.text;
    std::printf("  MSG %lld %s", static_cast<long long>(m.time_ms), shown.c_str());
    if (m.offset_ms != 0) std::printf("  [stamp moved %d ms]", m.offset_ms);
    if (m.text.size() > 60) std::printf("  [%zu characters, sent in pieces]", m.text.size());
    std::printf("\n");
  }
}

// Runs a trial the way an experiment does: idle, recording with file and link data, a few
// seconds of samples with messages along the way, stop, idle. Reports what arrived and the
// tracker's clock against the local clock's offset estimate.
void run_trial(lvxsim::SimTracker &tracker, int seconds) {
  if (seconds <= 0) return;
  std::printf(
      "\nTrial: %d s of recording, samples and events to the tracker's file and over the "
      "link\n",
      seconds);
  lumavex_abort();  // idle first
  int16_t r = lumavex_data_start(LUMAVEX_RECORD_ALL, 0);
  std::printf("  recording started (result %d); tracker mode: %s\n", r,
              mode_in_words(lumavex_current_mode()).c_str());
  if (r != 0 || lumavex_wait_for_block_start(1000, 1, 1) != 1) {
    std::printf("  recording did not start\n");
    failed("trial: recording did not start");
    return;
  }
  std::printf("  eye: %s; sample rate %d Hz\n", eye_in_words(lumavex_eye_available()),
              lumavex_data_status()->sample_rate_x10 / 10);
  eyemsg_printf("TRIALID %d", 1);
  // Every sample carries the href positions of the display's corners: with the display's
  // rectangle given once, href converts to gaze (and back) sample by sample.
  const int mapping = lumavex_initialize_mapping(0, 0, 1023, 767);
  long samples = 0, events = 0, messages = 0, lost = 0, other = 0;
  double sum_x = 0, sum_y = 0;
  long gaze_count = 0;
  float peak_velocity = 0;          // the library's, over the trial
  float tracker_peak_velocity = 0;  // the largest the tracker's saccade events report
  long saccades = 0;
  std::optional<float_sample> mapped;  // one sample whose href is converted to gaze below
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
        if (!mapped && d.fs.href_x[0] != MISSING_VALUE) mapped = d.fs;
        for (int eye = 0; eye < 2; ++eye) {
          if (d.fs.gaze_x[eye] == MISSING_VALUE || d.fs.gaze_y[eye] == MISSING_VALUE) continue;
          sum_x += static_cast<double>(d.fs.gaze_x[eye]);
          sum_y += static_cast<double>(d.fs.gaze_y[eye]);
          ++gaze_count;
        }
      } else if (d.head.type >= 1 && d.head.type <= 10) {
        ++events;
        if (d.head.type == ENDSACC) {
          ++saccades;
          tracker_peak_velocity = std::max(tracker_peak_velocity, d.fe.peak_velocity);
        }
      } else if (d.head.type == EV_LOST_DATA) {
        ++lost;
      } else if (d.head.type == EV_MESSAGE) {
        ++messages;
      } else {
        ++other;
      }
    }
    // The eye's velocity now, from the newest samples (the history the library keeps for it).
    float vel[2];
    lumavex_calculate_velocity(LUMAVEX_FILTER_9, vel, nullptr);
    for (float v : vel) {
      if (v != MISSING_VALUE) peak_velocity = std::max(peak_velocity, v);
    }
  }
  eyemsg_printf("TRIAL_RESULT 0");
  lumavex_data_stop();
  std::printf("  recording stopped; tracker mode: %s\n",
              mode_in_words(lumavex_current_mode()).c_str());
  std::printf("  samples read: %ld of the %llu the tracker sent\n", samples,
              static_cast<unsigned long long>(tracker.stream_stats().samples));
  std::printf(
      "  events read: %ld fixation, saccade and blink starts and ends; %ld messages (the\n"
      "    trial's own, sent back in the stream); %ld other\n",
      events, messages, other);
  if (lost == 0) {
    std::printf("  lost data: none\n");
  } else {
    std::printf("  lost data: %ld gaps (EV_LOST_DATA records)\n", lost);
    failed("trial: data lost");
  }
  if (samples == 0) failed("trial: no samples");
  if (gaze_count > 0) {
    std::printf(
        "  mean gaze position: (%.1f, %.1f) pixels on the 1024 x 768 screen, over %ld\n"
        "    eye samples (one per eye per sample)\n",
        sum_x / static_cast<double>(gaze_count), sum_y / static_cast<double>(gaze_count),
        gaze_count);
  }
  std::printf(
      "  saccades: %ld; peak velocity %.0f deg/s by the library's velocity (9-sample\n"
      "    filter, from the newest samples as they came); the tracker's saccade events say\n"
      "    %.0f deg/s\n",
      saccades, static_cast<double>(peak_velocity), static_cast<double>(tracker_peak_velocity));
  if (mapping != 0) {
    std::printf("  href to gaze: the tracker is too old for the mapping (%d)\n", mapping);
  } else if (mapped) {
    compact_float_sample compact;
    std::memcpy(&compact, &*mapped, sizeof compact);
    float x = mapped->href_x[0], y = mapped->href_y[0];
    const int converted = lumavex_href_to_gaze(&x, &y, &compact);
    std::printf(
        "  href to gaze, the left eye at %u ms: href (%.0f, %.0f) through the corners the\n"
        "    sample carries gives (%.1f, %.1f)%s; the tracker's own gaze (%.1f, %.1f)\n",
        mapped->time, static_cast<double>(mapped->href_x[0]),
        static_cast<double>(mapped->href_y[0]), static_cast<double>(x), static_cast<double>(y),
        converted == 0 ? "" : " (no corners)", static_cast<double>(mapped->gaze_x[0]),
        static_cast<double>(mapped->gaze_y[0]));
  }
  lumavex_request_time();
  uint32_t tracker_ms = 0;
  for (int i = 0; i < 100 && tracker_ms == 0; ++i) tracker_ms = lumavex_read_time();
  const double offset_ms = lumavex_double_msec_offset();
  std::printf(
      "  clock check: the tracker says its clock reads %u ms; the display's clock\n"
      "    %.1f ms + the offset %.3f ms gives %.1f ms\n",
      tracker_ms, current_double_usec() / 1000.0, offset_ms,
      current_double_usec() / 1000.0 + offset_ms);
}

// ---- A short experiment ----

// The size of the tracker's open (or last) recording file, in bytes.
unsigned long long tracker_file_size(lvxsim::SimTracker &tracker) {
  std::optional<std::string> path = tracker.control().open_file_path();
  if (!path) path = tracker.control().last_file_path();
  std::error_code ec;
  const auto size = path ? std::filesystem::file_size(*path, ec) : 0;
  return ec ? 0 : static_cast<unsigned long long>(size);
}

// Runs an experiment the way labs do: a recording file on the tracker, three trials each with
// start, messages, a check every 250 ms and stop (the time-critical part in real-time mode), a
// local message file written beside it, then the file closed.
void run_experiment(lvxsim::SimTracker &tracker, const std::string &folder) {
  std::printf("\nExperiment: three trials into the tracker's recording file \"demo.qrd\"\n");
  int16_t r = open_data_file("demo.qrd");
  show_result("open_data_file demo.qrd", r, "open_data_file");
  if (r != 0) {
    failed("experiment: open_data_file");
    return;
  }
  const std::string message_path = folder + "/demo_messages.txt";
  const bool local = open_message_file(message_path.c_str()) == 0;
  if (!local) failed("experiment: local message file");
  for (int trial = 1; trial <= 3; ++trial) {
    const int16_t started = start_recording(1, 1, 1, 1);
    if (started != 0) {
      std::printf("  trial %d: recording did not start (%d)\n", trial, started);
      failed("experiment: trial " + std::to_string(trial) + " did not start");
      continue;
    }
    begin_realtime_mode(50);
    eyemsg_printf("TRIALID %d", trial);
    timemsg_printf(0, "trial %d started", trial);
    long samples = 0;
    int16_t result = 0;
    float_data slots[100];
    const uint32_t end = current_time() + 1000;
    uint32_t next_check = current_time() + 250;
    while (result == 0 && static_cast<int32_t>(current_time() - end) < 0) {
      const int n = lumavex_wait_for_next_data(slots, 100, 5);
      for (int i = 0; i < n; ++i) samples += slots[i].head.type == EV_SAMPLE ? 1 : 0;
      if (static_cast<int32_t>(current_time() - next_check) >= 0) {
        result = check_recording();
        timemsg_printf(0, "trial %d check: %d", trial, result);
        next_check += 250;
      }
    }
    eyemsg_printf("TRIAL_RESULT %d", result);
    end_realtime_mode();
    timemsg_printf(0, "trial %d ended", trial);
    stop_recording();
    std::printf(
        "  trial %d: %ld samples read, recording result %d (0: recording went on to the end), "
        "tracker's file now %llu bytes\n",
        trial, samples, result, tracker_file_size(tracker));
    if (result != 0)
      failed("experiment: trial " + std::to_string(trial) + " recording ended early");
  }
  close_message_file();
  r = close_data_file();
  show_result("close_data_file", r, "close_data_file");
  if (r != 0) failed("experiment: close_data_file");
  std::printf("  the tracker's file %s: %llu bytes\n",
              tracker.control().last_file_path().value_or("?").c_str(), tracker_file_size(tracker));
  if (local) {
    std::printf("  local message file %s (time in ms, a tab, the text):\n", message_path.c_str());
    std::FILE *f = std::fopen(message_path.c_str(), "r");
    char line[300];
    while (f != nullptr && std::fgets(line, sizeof line, f) != nullptr) std::printf("    %s", line);
    if (f != nullptr) std::fclose(f);
  }
}

// ---- Camera setup through the reference display ----

void save_snapshot(const lvxcanvas::ReferenceDisplay &d, const std::string &path,
                   const char *what) {
#if LVX_DEMO_SNAPSHOTS
  std::string error;
  if (lvxcanvas::save_png(d.screen(), path, &error)) {
    std::printf("  snapshot of %s: %s\n", what, path.c_str());
  } else {
    std::printf("  snapshot of %s not written: %s\n", what, error.c_str());
    failed(std::string("snapshot of ") + what);
  }
#else
  (void)d;
  (void)path;
  std::printf("  (no snapshot of %s: built without libpng)\n", what);
#endif
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
void run_camera_setup(lvxsim::SimTracker &tracker, const std::string &folder) {
  std::printf("\nCamera setup:\n");
  static lvxcanvas::ReferenceDisplay display(1024, 768);
  display.install();
  SetupScript script(tracker, folder);
  display.on_poll = [&](lvxcanvas::ReferenceDisplay &d) { script.on_poll(d); };
  const int16_t setup = do_tracker_setup();
  std::printf("  do_tracker_setup -> %d, camera images shown %d, targets drawn %d\n", setup,
              display.camera_images(), display.targets_drawn());
  std::printf("  last camera title: \"%s\"\n", display.title().c_str());
  if (setup != 0) failed("camera setup");
  const auto v = tracker.control().last_validation();
  if (!v) failed("validation");
  if (v) {
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
  if (drift != 0) failed("drift correction");
  display.on_poll = nullptr;
}

// ---- The backdrop ----

// A simple scene in 32-bit pixels (blue, green, red, unused): a grid on light grey, a red disc, a
// blue box, a green triangle and a black fixation cross in the middle.
std::vector<uint8_t> render_scene(int w, int h) {
  std::vector<uint8_t> px(4 * static_cast<size_t>(w) * static_cast<size_t>(h));
  auto put = [&](int x, int y, uint8_t r, uint8_t g, uint8_t b) {
    uint8_t *p =
        &px[4 * (static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x))];
    p[0] = b;
    p[1] = g;
    p[2] = r;
    p[3] = 0;
  };
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const bool grid = x % 64 == 0 || y % 64 == 0;
      const int dx = x - 256, dy = y - 256;
      const bool disc = dx * dx + dy * dy < 100 * 100;
      const bool box = x >= 620 && x < 860 && y >= 160 && y < 330;
      const bool triangle = y >= 460 && y < 660 && std::abs(x - 512) < (y - 460) * 3 / 5;
      const bool cross = (std::abs(x - w / 2) < 20 && std::abs(y - h / 2) < 3) ||
                         (std::abs(y - h / 2) < 20 && std::abs(x - w / 2) < 3);
      if (cross) {
        put(x, y, 0, 0, 0);
      } else if (disc) {
        put(x, y, 220, 30, 30);
      } else if (box) {
        put(x, y, 40, 60, 200);
      } else if (triangle) {
        put(x, y, 40, 170, 60);
      } else if (grid) {
        put(x, y, 120, 120, 120);
      } else {
        put(x, y, 210, 210, 210);
      }
    }
  }
  return px;
}

// Sends the scene as the backdrop of the tracker's operator display, over the link (the tracker
// answers with its pixel format, the library scales, dithers and packs the image), then saves
// the image the tracker put together from the packets.
void send_backdrop(lvxsim::SimTracker &tracker, const std::string &folder) {
  constexpr int kW = 1024, kH = 768;
  std::vector<uint8_t> pixels = render_scene(kW, kH);
  bitmap_record scene{kW, kH, 0, 32, pixels.data(), nullptr};
  std::printf("\nBackdrop: a %d x %d scene for the operator's screen, over the link\n", kW, kH);
  const uint32_t start = current_time();
  const int r = lv_bitmap_to_backdrop(&scene, 0, 0, 0, 0, 0, 0, 0);
  const uint32_t took = current_time() - start;
  // The tracker draws the image once it has confirmed the last packet.
  for (int i = 0; i < 2000 && r == 0 && tracker.control().backdrops_shown() == 0; ++i)
    msec_delay(1);
  const std::optional<lvxsim::Backdrop> shown = tracker.control().backdrop();
  if (r != 0 || !shown) {
    std::printf("  lv_bitmap_to_backdrop -> %d: the tracker shows no backdrop\n", r);
    failed("backdrop");
    return;
  }
  const lvxsim::ReceivedBitmap got = tracker.control().bitmap();
  std::printf("  lv_bitmap_to_backdrop -> 0 in %u ms: %zu bytes in %u packets (%s, %d x %d)\n",
              took, got.bytes.size(), got.packets + 1, shown->source.c_str(), shown->width,
              shown->height);
  const std::string path = folder + "/backdrop.png";
  std::string error;
  if (tracker.control().save_backdrop_png(path, &error)) {
    std::printf("  the tracker's reassembled backdrop: %s\n", path.c_str());
  } else {
    std::printf("  backdrop not written: %s\n", error.c_str());
    failed("backdrop file");
  }
}

// ---- Getting the recording back ----

// A one-line progress bar: percentage, bytes, rate and time left, redrawn in place on a terminal
// and printed as plain lines (one per call) when the output goes elsewhere.
class ProgressBar {
 public:
  void start() {
    start_ = std::chrono::steady_clock::now();
    terminal_ = isatty(STDOUT_FILENO) != 0;
  }
  void show(uint64_t total_bytes, uint64_t received_bytes) {
    const auto total = static_cast<double>(total_bytes);
    const auto received = static_cast<double>(received_bytes);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const double fraction = total > 0 ? received / total : 1.0;
    const double rate = seconds > 0 ? received / seconds : 0.0;
    const double left = rate > 0 ? (total - received) / rate : 0.0;
    constexpr int kWidth = 30;
    const int filled = static_cast<int>(fraction * kWidth + 0.5);
    char line[160];
    std::snprintf(line, sizeof line, "  [%.*s%.*s] %3.0f%%  %.1f / %.1f MB  %.1f MB/s  %.1f s left",
                  filled, "==============================", kWidth - filled,
                  "                              ", fraction * 100.0, received / 1e6, total / 1e6,
                  rate / 1e6, left);
    if (terminal_) {
      std::printf("\r%s", line);
      if (received >= total) std::printf("\n");
    } else {
      std::printf("%s\n", line);
    }
    std::fflush(stdout);
  }

 private:
  std::chrono::steady_clock::time_point start_;
  bool terminal_ = false;
};

ProgressBar g_bar;

int show_progress(const char *, uint64_t total, uint64_t received) {
  g_bar.show(total, received);
  return 0;
}

// The checksum the tracker's file service announces (CRC-32, polynomial 0x04C11DB7, most
// significant bit first, starting from 0, no final complement), over a local file.
uint32_t file_checksum(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  uint32_t crc = 0;
  char c;
  while (in.get(c)) {
    crc ^= static_cast<uint32_t>(static_cast<uint8_t>(c)) << 24;
    for (int i = 0; i < 8; ++i) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  return crc;
}

void download_recording(const lvxsim::SimTracker &tracker, const std::string &folder) {
  const std::string local = folder + "/downloads";
  std::error_code ec;
  std::filesystem::create_directories(local, ec);
  std::printf(
      "\nGetting the recording back (receive_data_file_feedback64 over the tracker's file "
      "service):\n");
  g_bar.start();
  const int32_t got = receive_data_file_feedback64(
      "demo", local.c_str(), RECEIVE_FILE_TO_DIR | RECEIVE_FILE_REPLACE, show_progress);
  if (got < 0) {
    std::printf("  download failed: %d\n", got);
    failed("download");
    return;
  }
  const std::string path = local + "/demo.qrd";
  const std::string original = tracker.config().data_dir + "/demo.qrd";
  const uint32_t crc = file_checksum(path);
  std::printf("  saved %s: %d bytes\n", path.c_str(), got);
  const bool same = crc == file_checksum(original);
  std::printf("  checksum 0x%08x: %s\n", crc,
              same ? "matches the tracker's file (OK)" : "DIFFERS from the tracker's file");
  if (!same) failed("download: checksum");
}

// ---- The gaze monitor: a second program on the experiment's link ----

// Runs as a relay slave of the experiment: reads every sample the experiment's link brings and
// prints, twice a second while they flow, the newest gaze position and the gaze velocity over the
// last 10 ms, in degrees per second (from the tracker's pixels-per-degree resolution). Ends when
// the experiment closes the link.
int run_monitor() {
  // A port the system chooses: a relay slave never uses its link socket.
  if (open_lumavex_system(0, "remport=0") == 0 ||
      open_lumavex_connection(LUMAVEX_OPEN_SLAVE) != 0) {
    std::fprintf(stderr, "[monitor] no experiment to join in this folder\n");
    return 1;
  }
  lumavex_data_switch(0x0C);
  std::printf("[monitor] joined the experiment's link\n");
  std::fflush(stdout);
  struct Gaze {
    uint32_t time = 0;
    float x = 0, y = 0, res_x = 0, res_y = 0;
  };
  Gaze recent[16];
  size_t count = 0;
  long samples = 0;
  uint32_t next_line = 0;
  float_data slots[100];
  while (lumavex_is_connected() != 0) {
    const int n = lumavex_wait_for_next_data(slots, 100, 5);
    for (int i = 0; i < n; ++i) {
      const float_sample &fs = slots[i].fs;
      if (slots[i].head.type != EV_SAMPLE) continue;
      ++samples;
      const int eye = fs.gaze_x[1] != MISSING_VALUE ? 1 : 0;
      if (fs.gaze_x[eye] == MISSING_VALUE || fs.gaze_y[eye] == MISSING_VALUE) continue;
      recent[count++ % 16] = {fs.time, fs.gaze_x[eye], fs.gaze_y[eye], fs.res_x, fs.res_y};
    }
    if (n <= 0 || count == 0 || static_cast<int32_t>(current_time() - next_line) < 0) continue;
    next_line = current_time() + 500;
    const Gaze &now = recent[(count - 1) % 16];
    // Against the newest sample at least 10 ms older (or the oldest one kept).
    const size_t kept = std::min<size_t>(count, 16);
    size_t back = 1;
    while (back + 1 < kept && now.time - recent[(count - 1 - back) % 16].time < 10) ++back;
    double velocity = 0;
    if (back < kept) {
      const Gaze &then = recent[(count - 1 - back) % 16];
      const double dx = static_cast<double>((now.x - then.x) / std::max(1.0f, now.res_x));
      const double dy = static_cast<double>((now.y - then.y) / std::max(1.0f, now.res_y));
      const double ms = std::max(1u, now.time - then.time);
      velocity = std::sqrt(dx * dx + dy * dy) * 1000.0 / ms;
    }
    std::printf("[monitor] t=%u ms  gaze (%6.1f, %6.1f) px  velocity %6.1f deg/s\n", now.time,
                static_cast<double>(now.x), static_cast<double>(now.y), velocity);
    std::fflush(stdout);
  }
  std::printf("[monitor] the experiment closed the link; %ld samples seen\n", samples);
  close_lumavex_connection();
  return 0;
}

// Starts this program again as the gaze monitor, in the current working folder.
pid_t start_monitor() {
  std::error_code error;
  std::string self = std::filesystem::read_symlink("/proc/self/exe", error).string();
  if (error) return -1;
  std::string flag = "--monitor-slave";
  char *argv[] = {self.data(), flag.data(), nullptr};
  pid_t pid = -1;
  std::fflush(stdout);
  return posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv, environ) == 0 ? pid : -1;
}

// Waits up to five seconds for the monitor to end after the link closed.
void end_monitor(pid_t pid) {
  if (pid <= 0) return;
  for (int waited = 0; waited < 5000; waited += 10) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return;
    msec_delay(10);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

}  // namespace

int main(int argc, char **argv) {
  Options opt;
  if (!parse(argc, argv, &opt)) return 2;
  if (opt.monitor_slave) return run_monitor();
  // Beside the monitor, whole lines keep the two programs' output apart.
  if (opt.monitor) std::setvbuf(stdout, nullptr, _IOLBF, 0);

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
  config.tcp_port = 0;  // the system chooses; the library learns it from "tcpport"
  config.clock_offset_us = static_cast<int64_t>(opt.offset_ms * 1000.0);
  config.control.enabled = true;  // a tracker with its mode machine
  config.control.calibration_points = opt.calibration_points;
  // Samples carry the href positions of the screen's corners, for the href-to-gaze mapping.
  config.control.stream.href_corners = true;
  config.control.bitmap_format = 5;  // backdrops in 125 colours
  // The tracker's files: its data folder, and its file service on a port the system chooses.
  // Absolute: with --monitor the demo works in this folder, and its paths must still hold.
  std::string folder =
      opt.output.empty() ? std::string() : std::filesystem::absolute(opt.output).string();
  if (folder.empty()) {
    folder = make_output_folder();
    if (folder.empty()) return 1;
  }
  config.data_dir = folder + "/tracker";
  config.enable_file_service = true;
  config.file_service_port = 0;
  std::error_code made;
  std::filesystem::create_directories(config.data_dir, made);
  if (made) {
    std::fprintf(stderr, "demo: cannot make the folder %s: %s\n", config.data_dir.c_str(),
                 made.message().c_str());
    return 1;
  }
  std::printf("Output folder: %s\n", folder.c_str());
  lvxsim::SimTracker tracker(config);
  std::string error;
  if (!tracker.start(&error)) {
    std::fprintf(stderr, "cannot start the simulated tracker: %s\n", error.c_str());
    return 1;
  }
  std::printf("Simulated tracker \"%s\" (model %s) listening on %s%s\n", config.node_name.c_str(),
              opt.model.c_str(), tracker.udp_endpoint().to_string().c_str(),
              opt.tcp ? ", link over TCP" : ", link over UDP");

  // The tracker's clock runs on the machine's monotonic clock plus its offset, so reading the
  // library's clock from the same origin makes the estimate show that offset.
  lumavex_set_clock_base(QX_CLOCK_BASE_MACHINE_LOCAL);
  if (opt.tcp) set_lumavex_tcp_only(1);
  // The tracker's ports go in the link's options.
  const std::string options =
      "eyeport=" + std::to_string(tracker.udp_endpoint().port) +
      " fileport=" + std::to_string(tracker.file_service_port()) +
      (opt.tcp ? " tcpport=" + std::to_string(tracker.tcp_endpoint().port) : std::string());
  // The address goes in before the link opens: over TCP, opening connects to it at once. And
  // again after, since the address takes its port from the options in force.
  set_lumavex_address(opt.address.c_str());
  if (open_lumavex_system(0, options.c_str()) == 0) {
    std::fprintf(stderr, "cannot open the link\n");
    return 1;
  }
  set_lumavex_address(opt.address.c_str());
  // Sharing the link: the relay's socket goes into the working folder, so work in the output
  // folder (the monitor starts there too).
  if (opt.monitor && chdir(folder.c_str()) != 0) {
    std::fprintf(stderr, "cannot work in %s\n", folder.c_str());
    return 1;
  }
  if (open_lumavex_connection(opt.monitor ? LUMAVEX_OPEN_MASTER : LUMAVEX_OPEN_CONNECT) != 0) {
    std::fprintf(stderr, "connection failed\n");
    return 1;
  }
  lumavex_set_name("demo-display");
  const pid_t monitor = opt.monitor ? start_monitor() : -1;
  if (opt.monitor) {
    std::printf("Sharing the link: a gaze monitor runs beside the experiment (%s)\n",
                monitor > 0 ? "started" : "could not start");
  }

  char version[40] = {};
  int generation = lumavex_get_tracker_version(version);
  std::printf("Link: %s; tracker generation %d, model and version \"%s\"\n",
              link_in_words(lumavex_is_connected()), generation, version);

  // Let a few link updates arrive so that the clock estimate settles.
  msec_delay(300);
  const double offset_ms = lumavex_double_msec_offset();
  std::printf("\nClocks: the display's clock reads %u ms, the tracker's (estimated) %u ms.\n",
              current_time(), lumavex_tracker_msec());
  std::printf(
      "  Offset: tracker clock minus display clock = %.3f ms, estimated from the time in\n"
      "  each packet the tracker sends. Add it to a display time to place that moment on\n"
      "  the tracker's time line (the times of samples, events and messages).\n",
      offset_ms);
  std::printf(
      "  The simulated tracker's clock was set %.3f ms ahead: the estimate is off by "
      "%.3f ms.\n",
      opt.offset_ms, offset_ms - opt.offset_ms);

  LVXADDR node{};
  text_to_lvxaddr(opt.address.c_str(), &node, 0);
  const char message[] = "hello tracker, this is the display";
  int16_t sent = lumavex_node_send(&node, message, sizeof message - 1);
  std::printf("\nNode message (a note from one program on the link to another): %s\n",
              sent == 0 ? "sent" : "not sent");
  if (sent != 0) failed("node message");
  for (int i = 0; i < 100 && tracker.node_messages().empty(); ++i) msec_delay(5);
  for (const lvxsim::NodeMessage &m : tracker.node_messages()) {
    std::printf("  the tracker received from the display at %s: \"%.*s\"\n",
                m.from.to_string().c_str(), static_cast<int>(m.payload.size()),
                reinterpret_cast<const char *>(m.payload.data()));
  }

  run_commands_and_messages(tracker);
  run_camera_setup(tracker, folder);
  send_backdrop(tracker, folder);
  run_trial(tracker, opt.stream_seconds);
  run_experiment(tracker, folder);
  download_recording(tracker, folder);

  close_lumavex_connection();
  end_monitor(monitor);
  std::printf("\nClosed: link %s; the tracker received %zu packets in all\n",
              link_in_words(lumavex_is_connected()), tracker.received().size());
  tracker.stop();
  std::printf("\nEverything the demo wrote is in %s\n", folder.c_str());
  if (!g_failed.empty()) {
    std::string list;
    for (const std::string &f : g_failed) list += (list.empty() ? "" : ", ") + f;
    std::fprintf(stderr, "demo: %zu step(s) failed: %s\n", g_failed.size(), list.c_str());
    return 1;
  }
  return 0;
}
