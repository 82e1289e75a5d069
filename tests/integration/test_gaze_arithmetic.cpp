// The gaze arithmetic on the live stream of the simulated tracker: velocity from the samples as
// they arrive, href mapped to gaze through the corners each sample carries, and raw camera values
// unpacked with the stream's own prescaler. Trackers 700..709.
#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "sim_fixture.h"

namespace {

using simtest::wait_until;
constexpr float kMissing = -32768.0f;

class GazeArithmetic : public simtest::SimTest {
 protected:
  void stream(int n, const lvxsim::StreamConfig &c) {
    connect_to_tracker(n);
    ASSERT_EQ(lumavex_data_switch(0x04), 0);  // samples, and no reader takes anything
    ASSERT_TRUE(sim().start_streaming(c));
    ASSERT_TRUE(wait_until([] { return lumavex_newest_float_sample(nullptr) == 1; }));
  }

  void TearDown() override {
    if (sim_) sim_->stop_streaming();
    SimTest::TearDown();
  }

  // The sample the tracker sent with this time.
  std::optional<lvxsim::SentSample> sent_at(uint32_t time) {
    for (const lvxsim::SentSample &s : sim().recent_samples(4096)) {
      if (s.time_ms == time) return s;
    }
    return std::nullopt;
  }

  // The next new sample, waiting at most a second.
  bool next_sample(compact_float_sample &s) {
    return wait_until([&] { return lumavex_newest_float_sample(&s) == 1; }, 1000);
  }
};

// 1000 Hz, read by no one: the velocity at each calculation's centre sample against the eye's
// true speed there. The rate comes from the data packets (the mode data would need a reader to
// take the block's start marker); worked out at 250 Hz the speeds would be a quarter.
TEST_F(GazeArithmetic, VelocityOfTheLiveStreamFollowsTheEye) {
  lvxsim::StreamConfig c;
  c.rate_hz = 1000;
  c.events = false;
  c.seed = 5;
  c.history = 5000;  // more than the 3 s measured
  stream(700, c);
  std::vector<std::pair<uint32_t, float>> measured;  // centre sample's time, velocity
  const auto start = std::chrono::steady_clock::now();
  while (simtest::ms_since(start) < 3000) {
    float vel[2];
    compact_float_sample centre{};
    ASSERT_EQ(lumavex_calculate_velocity(LUMAVEX_FILTER_9, vel, &centre), 0);
    if (centre.time != 0 && vel[0] != kMissing &&
        (measured.empty() || measured.back().first != centre.time)) {
      measured.emplace_back(centre.time, vel[0]);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::vector<double> saccade_ratios, fixation;
  const std::vector<lvxsim::SentSample> sent = sim().recent_samples(5000);
  for (auto [time, v] : measured) {
    auto s = std::find_if(sent.begin(), sent.end(),
                          [&](const lvxsim::SentSample &x) { return x.time_ms == time; });
    if (s == sent.end()) continue;
    if (s->phase == lvxsim::Phase::kSaccade && s->velocity > 150) {
      saccade_ratios.push_back(static_cast<double>(v) / s->velocity);
    } else if (s->phase == lvxsim::Phase::kFixation) {
      fixation.push_back(static_cast<double>(v));
    }
  }
  ASSERT_GE(saccade_ratios.size(), 20u);
  ASSERT_GE(fixation.size(), 100u);
  std::sort(saccade_ratios.begin(), saccade_ratios.end());
  std::sort(fixation.begin(), fixation.end());
  EXPECT_NEAR(saccade_ratios[saccade_ratios.size() / 2], 1.0, 0.15);
  EXPECT_LT(fixation[fixation.size() / 2], 12.0);

  // A data reset with clear empties the history.
  sim().stop_streaming();
  ASSERT_EQ(lumavex_reset_data(1), 0);
  float vel[2];
  compact_float_sample centre;
  centre.time = 1;
  ASSERT_EQ(lumavex_calculate_velocity(LUMAVEX_FILTER_5, vel, &centre), 0);
  EXPECT_EQ(vel[0], kMissing);
  EXPECT_EQ(centre.time, 0u);
}

// The screen tilted 12 degrees: each sample's href, through the corners it carries, lands on its
// gaze, and back.
TEST_F(GazeArithmetic, HrefMapsToTheGazeOfTheLiveStream) {
  float x = 100, y = 200;
  compact_float_sample none{};
  EXPECT_EQ(lumavex_href_to_gaze(&x, &y, &none), -2);  // before the mapping is set up
  EXPECT_EQ(x, 100.0f);
  EXPECT_EQ(y, 200.0f);

  lvxsim::StreamConfig c;
  c.rate_hz = 500;
  c.events = false;
  c.href_corners = true;
  c.screen_tilt_deg = 12;
  stream(701, c);
  ASSERT_EQ(lumavex_initialize_mapping(0, 0, 1023, 767), 0);  // "LUMAVEX RX 5.7"
  EXPECT_EQ(lumavex_href_to_gaze(&x, &y, &none), -1);         // no corners in this one
  int mapped = 0;
  for (int n = 0; n < 40; ++n) {
    compact_float_sample s;
    ASSERT_TRUE(next_sample(s));
    for (int eye = 0; eye < 2; ++eye) {
      if (s.href_x[eye] == kMissing) continue;  // a blink
      x = s.href_x[eye];
      y = s.href_y[eye];
      ASSERT_EQ(lumavex_href_to_gaze(&x, &y, &s), 0);
      EXPECT_NEAR(x, s.gaze_x[eye], 0.3f);
      EXPECT_NEAR(y, s.gaze_y[eye], 0.3f);
      ASSERT_EQ(lumavex_gaze_to_href(&x, &y, &s), 0);
      EXPECT_NEAR(x, s.href_x[eye], 2.0f);
      EXPECT_NEAR(y, s.href_y[eye], 2.0f);
      ++mapped;
    }
  }
  EXPECT_GT(mapped, 40);
}

// Fraction packing with a position prescaler of 7, both eyes, through the current function; then
// direct packing through the older one, which takes it.
TEST_F(GazeArithmetic, RawCameraValuesOfTheLiveStream) {
  lvxsim::StreamConfig c;
  c.rate_hz = 250;
  c.events = false;
  c.raw_camera = lvxsim::RawPacking::kFraction;
  c.position_prescaler = 7;
  stream(702, c);
  for (int n = 0; n < 20; ++n) {
    compact_float_sample s;
    ASSERT_TRUE(next_sample(s));
    std::optional<lvxsim::SentSample> sent = sent_at(s.time);
    ASSERT_TRUE(sent);
    for (int eye = 0; eye < 2; ++eye) {
      raw_values r{};
      ASSERT_EQ(lumavex_get_extra_raw_values_v2(&s, eye, &r), 0);
      EXPECT_EQ(r.pupil_area, sent->raw[eye].pupil_area);
      EXPECT_NEAR(r.pupil_cr_x, sent->raw[eye].pupil_cr_x, 1e-3f);
      EXPECT_NEAR(r.pupil_raw_y, sent->raw[eye].pupil_raw_y, 1e-3f);
      EXPECT_EQ(r.pupil_dim[1], sent->raw[eye].pupil_dim[1]);
      EXPECT_NEAR(r.aux_point[0], sent->raw[eye].aux_point[0], 1e-4f);
    }
    raw_values old{};
    EXPECT_EQ(lumavex_get_extra_raw_values(&s, &old), -1);  // not packed directly
  }

  sim().stop_streaming();
  c.raw_camera = lvxsim::RawPacking::kDirect;
  c.position_prescaler = 10;
  ASSERT_TRUE(sim().start_streaming(c));
  int checked = 0;
  for (int n = 0; n < 100 && checked < 10; ++n) {
    compact_float_sample s;
    ASSERT_TRUE(next_sample(s));
    std::optional<lvxsim::SentSample> sent = sent_at(s.time);
    if (!sent || sent->raw[0].pupil_area == 0) continue;  // the first stream's, or a blink
    raw_values old{};
    ASSERT_EQ(lumavex_get_extra_raw_values(&s, &old), 0);
    EXPECT_NEAR(old.pupil_raw_x, sent->raw[0].pupil_raw_x, 1e-3f);
    EXPECT_NEAR(old.cr_raw_y, sent->raw[0].cr_raw_y, 1e-3f);
    corrected_raw fixed{};
    ASSERT_EQ(lumavex_reconstr_preprocess_raw_link_data(&s, 0, &fixed), 0);
    EXPECT_GE(fixed.pupil_area, sent->raw[0].pupil_area);  // the reflection sits inside the pupil
    ++checked;
  }
  EXPECT_EQ(checked, 10);
}

}  // namespace
