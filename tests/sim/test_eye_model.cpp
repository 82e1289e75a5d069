// The synthetic eye: phase statistics in plausible ranges and determinism by seed. (That the
// library reports the events it sends is checked end to end by the integration tests.)
#include <gtest/gtest.h>

#include "lumavex_core.h"
#include "sim/eye_model.h"

namespace {

using lvxsim::ModelEvent;

struct ModelRun {
  std::vector<lvxsim::ModelSample> samples;
  std::vector<ModelEvent> events;
};

ModelRun run_model(uint64_t seed, double seconds) {
  lvxsim::EyeModelConfig c;
  c.seed = seed;
  lvxsim::EyeModel m(c);
  ModelRun r;
  for (auto n = static_cast<size_t>(seconds * c.rate_hz); n > 0; --n) {
    lvxsim::ModelStep s = m.next();
    r.samples.push_back(s.sample);
    r.events.insert(r.events.end(), s.events.begin(), s.events.end());
  }
  return r;
}

bool within(double v, double lo, double hi) {
  return v >= lo && v <= hi;
}

TEST(SimEyeModel, PhaseStatisticsArePlausible) {
  ModelRun r = run_model(7, 60.0);  // 1000 Hz: a sample is a ms
  int fixations = 0, saccades = 0, blinks = 0;
  double fix_total = 0;
  for (const ModelEvent &e : r.events) {
    if (e.eye != 0) continue;
    const auto ms = static_cast<double>(e.end_index - e.start_index + 1);
    if (e.type == ENDFIX) {
      ++fixations;
      fix_total += ms;
      EXPECT_PRED3(within, ms, 150.0, 400.0);
    } else if (e.type == ENDSACC) {
      ++saccades;
      // Main sequence: duration grows with amplitude; minimum jerk peaks at 1.875 x amplitude /
      // duration, the amplitude measured between noisy samples (a third of a degree).
      EXPECT_PRED3(within, e.amplitude_deg, 0.5, 25.0);
      EXPECT_NEAR(ms, 2.2 * e.amplitude_deg + 21.0, 1.5);
      const double seconds = ms / 1000.0;
      EXPECT_NEAR(e.peak_velocity, 1.875 * e.amplitude_deg / seconds,
                  1.875 * 0.33 / seconds + 0.02 * e.peak_velocity);
    } else if (e.type == ENDBLINK) {
      ++blinks;
      EXPECT_PRED3(within, ms, 100.0, 200.0);
    }
  }
  EXPECT_PRED3(within, fixations, 100, 300);  // about 60 s / 300 ms
  EXPECT_PRED3(within, fix_total / fixations, 200.0, 300.0);
  EXPECT_GE(saccades, fixations - blinks - 2);
  EXPECT_PRED3(within, blinks, 8, 30);  // one every 2..6 s
  for (const auto &s : r.samples) {     // gaze stays near the 1024 x 768 screen
    if (!s.eye[0].valid) continue;
    EXPECT_PRED3(within, s.eye[0].gaze_x, -20.0, 1044.0);
    EXPECT_PRED3(within, s.eye[0].gaze_y, -20.0, 788.0);
  }
}

TEST(SimEyeModel, SameSeedSameOutputOtherSeedOtherOutput) {
  ModelRun a = run_model(42, 5.0), b = run_model(42, 5.0), other = run_model(43, 5.0);
  size_t differ = 0;
  for (size_t i = 0; i < a.samples.size(); ++i) {
    ASSERT_EQ(a.samples[i].eye[1].gaze_x, b.samples[i].eye[1].gaze_x) << i;
    differ += a.samples[i].eye[0].gaze_x != other.samples[i].eye[0].gaze_x;
  }
  EXPECT_EQ(a.events.size(), b.events.size());
  EXPECT_GT(differ, a.samples.size() / 2);
}

// A pointer to follow (the mouse of the live display): each move away starts a saccade within the
// shortest fixation, and the eye comes to rest at the pointer.
TEST(SimEyeModel, FollowsAPointerWithPromptSaccades) {
  lvxsim::EyeModelConfig c;
  c.seed = 3;
  c.mean_blink_interval_s = 1000;  // no blink in the way
  lvxsim::EyeModel m(c);
  for (const std::pair<double, double> &p :
       {std::pair{200.0, 150.0}, {800.0, 600.0}, {300.0, 650.0}, {850.0, 120.0}, {512.0, 384.0}}) {
    m.follow(p);
    int saccade_at = -1;
    lvxsim::ModelSample last;
    for (int ms = 0; ms < 600; ++ms) {  // 1000 Hz: a sample is a ms
      const lvxsim::ModelStep s = m.next();
      for (const ModelEvent &e : s.events)
        if (saccade_at < 0 && e.eye == 0 && e.type == STARTSACC) saccade_at = ms;
      last = s.sample;
    }
    EXPECT_PRED3(within, saccade_at, 0, 101) << p.first << "," << p.second;
    EXPECT_NEAR(last.eye[0].gaze_x, p.first, 12.0);
    EXPECT_NEAR(last.eye[0].gaze_y, p.second, 12.0);
  }
}

}  // namespace
