// Camera setup, calibration, validation and drift correction against the simulated tracker, seen
// through the reference display: what a user would see (targets where the tracker asked, the
// pupil crosshair over the pupil) and what the loops return when the user, another thread or a
// lost link ends them. Trackers 127.0.0.123..137.
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "control/input.h"
#include "display/setup_kernel.h"
#include "lumavex_canvas.h"
#include "sim/camera.h"
#include "sim/tracker_control.h"
#include "sim_fixture.h"

namespace {

using lvxcanvas::ReferenceDisplay;
using lvxcanvas::Rgba;

constexpr uint16_t kEnter = 13, kEscape = 27, kSpace = 32;

class CameraSetupTest : public simtest::SimTest {
 protected:
  void SetUp() override { lvx::set_terminal_break(false); }

  void connect(uint8_t n, int calibration_points = 5, bool tcp = false) {
    lvxsim::Config c;
    c.enable_tcp = tcp;
    c.control.enabled = true;
    c.control.calibration_points = calibration_points;
    start_tracker(n, c);
    ASSERT_EQ(open_lumavex_connection(0), 0);
    ASSERT_EQ(display_.install(), 0);
  }

  lvxsim::TrackerControl &tracker() { return sim().control(); }

  // Runs `loop` with a watchdog that ends it through exit_calibration after `limit_ms`, so that
  // a test that goes wrong fails instead of hanging. The limit is generous: under the thread
  // sanitizer on a loaded machine one camera image can take a second or more to draw.
  template <class Loop>
  int16_t bounded(Loop loop, int limit_ms = 60000) {
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
      for (int i = 0; i < limit_ms / 10 && !done; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (!done) exit_calibration();
    });
    const int16_t r = loop();
    done = true;
    watchdog.join();
    return r;
  }

  // Presses `key` once per newly drawn target, a few input polls after it appeared (keys
  // pressed while a screen starts are flushed, as a user's early presses would be).
  void accept_each_target(uint16_t key) {
    if (!display_.target_shown() || display_.targets_drawn() <= accepted_) return;
    if (seen_ != display_.targets_drawn()) {
      seen_ = display_.targets_drawn();
      seen_at_poll_ = display_.polls();
    } else if (display_.polls() > seen_at_poll_ + 3) {
      accepted_ = display_.targets_drawn();
      display_.press_key(key);
    }
  }

  bool has_sound(int code) const {
    for (const auto &s : display_.sounds())
      if (s.code == code) return true;
    return false;
  }

  ReferenceDisplay display_;
  int accepted_ = 0;
  int seen_ = 0;
  int seen_at_poll_ = 0;
};

TEST_F(CameraSetupTest, CameraViewCalibrationValidationAndLeave) {
  connect(123);
  enum Step { kOpenCamera, kWatchCamera, kCalibrate, kValidate, kLeave, kDone } step = kOpenCamera;
  bool pupil_under_crosshair = false;
  std::string camera_title;
  std::vector<std::pair<float, float>> drawn;
  display_.on_camera_image = [&](ReferenceDisplay &d) {
    int16_t x[4], y[4], mode = 0;
    if (get_image_xhair_data(x, y, &mode) != LUMAVEX_CAMERA_LEFT_EYE || x[0] == MISSING_VALUE)
      return;
    // The pupil mark: where the image shows the pupil, the overlay's green lines cross.
    const int px = d.camera_x() + x[0] * d.camera_w() / 8192;
    const int py = d.camera_y() + y[0] * d.camera_h() / 8192;
    const Rgba green = lvxcanvas::overlay_colour(PUPIL_HAIR_COLOR);
    bool crossed = false;
    for (int dx = -1; dx <= 1; ++dx)
      crossed = crossed || (d.screen().get(px + dx, py - 20) == green &&
                            d.screen().get(px - 20, py + dx) == green);
    const Rgba under = d.camera_image().get(x[0] * d.camera_image().width() / 8192,
                                            y[0] * d.camera_image().height() / 8192);
    const bool pupil_colour = under.b > under.r + 60;  // the pupil shows in the threshold blue
    pupil_under_crosshair = pupil_under_crosshair || (crossed && pupil_colour);
    camera_title = d.title();
  };
  display_.on_poll = [&](ReferenceDisplay &d) {
    if (d.target_shown() &&
        (drawn.empty() || drawn.back() != std::make_pair(d.target_x(), d.target_y())))
      drawn.emplace_back(d.target_x(), d.target_y());
    switch (step) {
      case kOpenCamera:
        if (d.polls() > 3) {
          d.press_key(kEnter);  // the camera image
          step = kWatchCamera;
        }
        break;
      case kWatchCamera:
        if (d.camera_images() >= 5 && pupil_under_crosshair) {
          d.press_key('c');
          step = kCalibrate;
        }
        break;
      case kCalibrate:
        accept_each_target(kEnter);
        if (tracker().last_calibration().size() == 5 && tracker().mode() == 3) {
          d.press_key('v');
          step = kValidate;
        }
        break;
      case kValidate:
        accept_each_target(kSpace);  // space accepts through the library
        if (tracker().last_validation() && tracker().mode() == 3) {
          d.press_key(kEscape);
          step = kLeave;
        }
        break;
      default:
        break;
    }
  };
  EXPECT_EQ(bounded([] { return do_tracker_setup(); }), 0);
  EXPECT_EQ(step, kLeave);
  EXPECT_TRUE(pupil_under_crosshair);
  EXPECT_EQ(camera_title.rfind("Camera:  LEFT      Threshold:  P=88    CR=200 ", 0), 0u)
      << camera_title;
  const lvxsim::CameraStats stats = tracker().camera_stats();
  EXPECT_GE(stats.images, 5u);
  EXPECT_EQ(stats.width, 384);  // the reference display can show the larger image
  EXPECT_GE(stats.acks, stats.images);

  // Every target was drawn where the tracker showed it.
  const auto calibration = tracker().last_calibration();
  const auto validation = tracker().last_validation();
  ASSERT_TRUE(validation.has_value());
  ASSERT_EQ(drawn.size(), 10u);
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_FLOAT_EQ(drawn[i].first, calibration[i].target_x);
    EXPECT_FLOAT_EQ(drawn[i].second, calibration[i].target_y);
    EXPECT_FLOAT_EQ(drawn[5 + i].first, validation->points[i].target_x);
  }
  char message[100] = {};
  lumavex_cal_message(message);
  EXPECT_EQ(std::string(message), validation->text);
  EXPECT_EQ(std::string(message).rfind("VALIDATION HV5 LR LEFT ", 0), 0u);
  EXPECT_TRUE(has_sound(LUMAVEX_SOUND_TARGET_SHOWN));
  EXPECT_TRUE(has_sound(LUMAVEX_SOUND_CAL_DONE));
  EXPECT_EQ(tracker().mode(), lvxsim::kModeIdle);
}

TEST_F(CameraSetupTest, TargetPixelsAndMouseClickMovesTheSearchArea) {
  connect(124);
  bool clicked = false;
  bool switched = false;
  bool target_checked = false;
  int images_at_click = 0;
  display_.on_poll = [&](ReferenceDisplay &d) {
    if (d.polls() == 5) d.press_key(kEnter);
    if (d.camera_images() == 1 && !switched) {
      d.press_key(lvxsim::kKeyRight);  // the head camera, whose view takes clicks
      switched = true;
    }
    if (!clicked && d.camera_images() >= 2) {
      // A click at the centre of the camera area, held for a while.
      d.set_mouse(d.camera_w() / 4, d.camera_h() / 2, true);
      clicked = true;
      images_at_click = d.camera_images();
    }
    if (clicked && d.camera_images() > images_at_click + 3 && !target_checked) {
      d.set_mouse(-1, -1, false);
      d.press_key('c');
      target_checked = true;
    }
    if (target_checked && d.target_shown()) {
      const int x = static_cast<int>(d.target_x()), y = static_cast<int>(d.target_y());
      EXPECT_EQ(d.screen().get(x, y), ReferenceDisplay::kTargetInner);
      EXPECT_EQ(d.screen().get(x + 7, y), ReferenceDisplay::kTargetOuter);
      EXPECT_EQ(d.screen().get(x + 20, y), ReferenceDisplay::kTargetBackground);
      exit_calibration();
    }
  };
  EXPECT_EQ(bounded([] { return do_tracker_setup(); }), 27);
  EXPECT_TRUE(target_checked);
  // One press held over several images sends one click.
  int clicks = 0;
  for (const std::string &c : sim().command_log())
    if (c.rfind("setup_mode_global_click=", 0) == 0) ++clicks;
  EXPECT_EQ(clicks, 1);
  EXPECT_NEAR(tracker().search_area().first, 0.25, 0.01);
  EXPECT_NEAR(tracker().search_area().second, 0.5, 0.01);
  EXPECT_EQ(tracker().mode(), lvxsim::kModeIdle);  // exit_calibration sets it offline
}

TEST_F(CameraSetupTest, DriftCorrectionAcceptedAbortedAndEnded) {
  connect(125);
  // Accepted with Enter: the measured drift is reported and applied.
  display_.on_poll = [&](ReferenceDisplay &) { accept_each_target(kEnter); };
  EXPECT_EQ(bounded([] { return do_drift_correctf(500.0f, 400.0f, 1, 0); }), 0);
  const auto drift = tracker().last_drift();
  ASSERT_TRUE(drift.has_value());
  EXPECT_NEAR(drift->first, 10.0f, 8.0f);
  char message[100] = {};
  lumavex_cal_message(message);
  EXPECT_EQ(std::string(message).rfind("DRIFTCORRECT LR LEFT OFFSET ", 0), 0u) << message;
  EXPECT_TRUE(
      simtest::wait_until([&] { return received_command("apply_last_drift_correction 1.0"); }));
  EXPECT_TRUE(has_sound(LUMAVEX_SOUND_DRIFT_TARGET));
  EXPECT_TRUE(has_sound(LUMAVEX_SOUND_DRIFT_DONE));
  EXPECT_FLOAT_EQ(display_.target_x(), 500.0f);

  // Aborted with Escape (no space follows): 27, the tracker goes idle.
  display_.on_poll = [&](ReferenceDisplay &d) {
    if (d.polls() % 5 == 0) d.press_key(kEscape);
  };
  EXPECT_EQ(bounded([] { return do_drift_correct(300, 200, 1, 0); }), 27);
  EXPECT_TRUE(has_sound(LUMAVEX_SOUND_DRIFT_FAILED));
  EXPECT_TRUE(simtest::wait_until([&] { return tracker().mode() == lvxsim::kModeIdle; }));

  // Ended from another thread by exit_calibration: -1.
  display_.on_poll = nullptr;
  std::thread other([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    exit_calibration();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(bounded([] { return do_drift_correctf(512.0f, 384.0f, 1, 1); }), -1);
  other.join();
  EXPECT_LT(simtest::ms_since(start), 5000);
}

TEST_F(CameraSetupTest, LostLinkEndsEachLoop) {
  connect(126);
  // During the camera view.
  display_.on_poll = [&](ReferenceDisplay &d) {
    if (d.polls() == 5) d.press_key(kEnter);
    if (d.camera_images() == 2) sim().drop_connection();
  };
  EXPECT_EQ(bounded([] { return do_tracker_setup(); }), 27);
  EXPECT_FALSE(display_.camera_view_open());

  // During a calibration, and during a drift correction.
  for (int loop = 0; loop < 2; ++loop) {
    close_lumavex_connection();
    ASSERT_EQ(open_lumavex_connection(0), 0);
    bool dropped = false;
    int shown_at = -1;
    const int start = display_.polls();
    display_.on_poll = [&](ReferenceDisplay &d) {
      if (loop == 0 && d.polls() == start + 5) d.press_key('c');
      if (!d.target_shown()) return;
      if (shown_at < 0) shown_at = d.polls();
      if (!dropped && d.polls() > shown_at + 3) {  // once the loop runs
        dropped = true;
        sim().drop_connection();
      }
    };
    if (loop == 0) {
      EXPECT_EQ(bounded([] { return do_tracker_setup(); }), 27);
    } else {
      EXPECT_EQ(bounded([] { return do_drift_correctf(512.0f, 384.0f, 1, 1); }), 0);
    }
    EXPECT_TRUE(dropped);
  }
}

TEST_F(CameraSetupTest, CameraViewOverTcpAndKernelOrder) {
  if (!use_tcp()) GTEST_SKIP() << "the network was started before in this process";
  connect(127, 5, true);
  EXPECT_EQ(image_display_kernal_iterate(0), -1000);  // connected, but not initialised
  display_.on_poll = [&](ReferenceDisplay &d) {
    if (d.polls() == 5) d.press_key(kEnter);
    if (d.camera_images() >= 1) exit_calibration();
  };
  // (Slow: each segment waits for the acknowledgement of the one before, and the TCP link
  // sends small packets late.)
  EXPECT_EQ(bounded([] { return do_tracker_setup(); }, 60000), 27);
  EXPECT_GE(display_.camera_images(), 1);
  EXPECT_GE(tracker().camera_stats().segments, 2u);  // an image comes in several segments
}

// The camera view's engine driven by hand against a tracker whose only images are the ones the
// test sends: its two time-outs, what it renews from one image to the next, and the last line of
// an extended image.
TEST_F(CameraSetupTest, KernelTimeOutsRenewalsAndTheExtendedLine) {
  start_tracker(128);  // no control side: it answers the requests but sends no image
  ASSERT_EQ(open_lumavex_connection(0), 0);
  static GraphicHooksV2 inner;
  static int opens;
  static std::vector<std::string> titles;
  inner = display_.hooks();
  opens = 0;
  titles.clear();
  GraphicHooksV2 h = inner;
  h.open_camera_view_hook = [](void *u, int16_t w, int16_t ht) {
    ++opens;
    return inner.open_camera_view_hook(u, w, ht);
  };
  h.camera_title_hook = [](void *u, const char *t) {
    titles.emplace_back(t);
    inner.camera_title_hook(u, t);
  };
  ASSERT_EQ(setup_graphic_hook_functions_V2(&h), 0);
  ASSERT_EQ(image_display_kernal_init(0, 0, 0, 0, 1), 0);
  constexpr int kW = 64, kH = 8;
  // Requests an image and sends `parts` of its segments (0: all).
  auto send = [&](const lvxsim::CameraScene &scene, int segment_bytes = 4096, size_t parts = 0) {
    EXPECT_EQ(image_display_kernal_iterate(0), 1);
    const lvxsim::CameraPicture pic = lvxsim::render_camera(scene, kW, kH);
    const auto segs = lvxsim::imgcode::segments(
        lvxsim::imgcode::encode_image(pic.pixels, kW, kH, lvxsim::imgcode::kRaw), pic.info, kW, kH,
        segment_bytes);
    for (size_t i = 0; i < (parts == 0 ? segs.size() : parts); ++i) sim().send_to_client(segs[i]);
    return pic;
  };
  auto shown = [&](int images) {
    return simtest::wait_until([&] {
      image_display_kernal_iterate(0);
      return display_.camera_images() >= images;
    });
  };
  auto wait_past = [](uint32_t since, uint32_t ms) {
    while (current_time() - since < ms) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };

  // No first segment: given up 150 ms after the request.
  ASSERT_EQ(image_display_kernal_iterate(0), 1);
  wait_past(current_time(), 170);
  EXPECT_EQ(image_display_kernal_iterate(0), -2);

  // The view opens once; the title is renewed when a threshold changes, and only then.
  lvxsim::CameraScene eye;
  send(eye);
  ASSERT_TRUE(shown(1));
  send(eye);
  ASSERT_TRUE(shown(2));
  eye.pupil_threshold = 95;
  send(eye);
  ASSERT_TRUE(shown(3));
  EXPECT_EQ(opens, 1);
  ASSERT_EQ(titles.size(), 2u);
  EXPECT_EQ(titles[1].rfind("Camera:  LEFT      Threshold:  P=95 ", 0), 0u) << titles[1];

  // The last line of an extended head-camera image carries information: the line above it is
  // shown in its place.
  lvxsim::CameraScene head;
  head.camera = lvxsim::kCameraHead;
  head.extended = true;
  const lvxsim::CameraPicture pic = send(head);
  ASSERT_TRUE(shown(4));
  auto row = [&](int y) {
    const uint32_t *p = display_.camera_image().pixels().data() + y * kW;
    return std::vector<uint32_t>(p, p + kW);
  };
  ASSERT_NE(std::vector<uint8_t>(pic.pixels.end() - kW, pic.pixels.end()),
            std::vector<uint8_t>(pic.pixels.end() - 2 * kW, pic.pixels.end() - kW));
  EXPECT_EQ(row(kH - 1), row(kH - 2));
  EXPECT_NE(row(kH - 2), row(kH - 3));

  // Lines that stop coming: given up 250 ms after the first segment.
  send(eye, 100, 1);
  ASSERT_TRUE(simtest::wait_until([] {
    image_display_kernal_iterate(0);
    return lvx::kernel_state().line_time != 0;
  }));
  wait_past(lvx::kernel_state().line_time, 270);
  EXPECT_EQ(image_display_kernal_iterate(0), -1);
  image_display_kernal_iterate(-1);
}

// Drift correction's keys and its end: with special list 2 holding Enter and 'a', a space is
// dropped (neither accepted nor passed on) and 'a' accepts; a space soon after an Escape still
// accepts; a draw value of 256 leaves the target on the screen, 255 does not.
TEST_F(CameraSetupTest, DriftCorrectionKeyListsEscapeWindowAndTargetLeftShown) {
  connect(129);
  const int list2[4] = {kEnter, 'a', 0, 0}, none[4] = {};
  lumavex_set_special_keys_ex(2, none, list2, 2);
  const int first = display_.polls();  // the next poll is the one that empties the key queue
  display_.on_poll = [first](ReferenceDisplay &d) {
    if (d.polls() == first + 4) d.press_key(kSpace);
    if (d.polls() == first + 13) d.press_key('a');
    if (d.polls() == first + 21) d.press_key(kEnter);
  };
  EXPECT_EQ(bounded([] { return do_drift_correctf(500.0f, 400.0f, 255, 0); }), 0);
  EXPECT_GE(display_.polls(), first + 13);  // the space did not end it, 'a' did
  EXPECT_LT(display_.polls(), first + 20);
  EXPECT_EQ(received_command("accept_target_fixation"), 1);
  std::vector<uint16_t> forwarded;
  for (const auto &k : tracker().received_keys()) forwarded.push_back(k.code);
  EXPECT_EQ(forwarded, std::vector<uint16_t>{'a'});  // a key of list 2 is passed on too
  EXPECT_FALSE(display_.target_shown());

  // A space 30 ms after an Escape.
  lumavex_set_special_keys_ex(2, none, none, 0);
  const int start = display_.polls() + 1;
  uint32_t escaped = 0;
  display_.on_poll = [&](ReferenceDisplay &d) {
    if (d.polls() == start + 3) {
      d.press_key(kEscape);
      escaped = current_time();
    } else if (escaped != 0 && current_time() - escaped >= 30) {
      d.press_key(kSpace);
      escaped = 0;
    }
  };
  EXPECT_EQ(bounded([] { return do_drift_correctf(300.0f, 200.0f, 256, 0); }), 0);
  EXPECT_EQ(received_command("accept_target_fixation"), 2);
  EXPECT_TRUE(display_.target_shown());
}

}  // namespace
