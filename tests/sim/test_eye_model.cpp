// The synthetic eye: phase statistics in plausible ranges, events that agree with the samples
// they summarise, determinism by seed, sample timing at each rate, and one-eyed tracking.
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "lumavex_core.h"
#include "sim/eye_model.h"

namespace {

using lvxsim::EyeModelConfig;
using lvxsim::ModelEvent;
using lvxsim::ModelSample;
using lvxsim::Phase;

struct ModelRun {
  std::vector<ModelSample> samples;
  std::vector<ModelEvent> events;
};

ModelRun run_model(EyeModelConfig c, double seconds) {
  lvxsim::EyeModel m(c);
  ModelRun r;
  for (auto n = static_cast<size_t>(seconds * c.rate_hz); n > 0; --n) {
    lvxsim::ModelStep s = m.next();
    r.samples.push_back(s.sample);
    r.events.insert(r.events.end(), s.events.begin(), s.events.end());
  }
  return r;
}

// Duration of a phase in ms, counting its samples.
double phase_ms(const ModelEvent &e, int rate) {
  return static_cast<double>(e.end_index - e.start_index + 1) * 1000.0 / rate;
}

bool within(double v, double lo, double hi) {
  return v >= lo && v <= hi;
}

TEST(SimEyeModel, PhaseStatisticsArePlausible) {
  EyeModelConfig c;
  c.seed = 7;
  ModelRun r = run_model(c, 60.0);
  int fixations = 0, saccades = 0, blinks = 0;
  double fix_total = 0;
  for (const ModelEvent &e : r.events) {
    if (e.eye != 0) continue;
    const double ms = phase_ms(e, c.rate_hz);
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
      EXPECT_PRED3(within, e.peak_velocity, e.amplitude_deg >= 8.0 ? 300.0 : 50.0, 800.0);
    } else if (e.type == ENDBLINK) {
      ++blinks;
      EXPECT_PRED3(within, ms, 100.0, 200.0);
    }
  }
  EXPECT_PRED3(within, fixations, 100, 300);  // about 60 s / 300 ms
  EXPECT_PRED3(within, fix_total / fixations, 200.0, 300.0);
  EXPECT_GE(saccades, fixations - blinks - 2);
  EXPECT_PRED3(within, blinks, 8, 30);      // one every 2..6 s
  for (const ModelSample &s : r.samples) {  // gaze stays near the screen
    if (!s.eye[0].valid) continue;
    EXPECT_PRED3(within, s.eye[0].gaze_x, -20.0, c.screen_width + 20.0);
    EXPECT_PRED3(within, s.eye[0].gaze_y, -20.0, c.screen_height + 20.0);
    EXPECT_GT(s.eye[0].pupil_size, 500.0);
  }
}

TEST(SimEyeModel, EventsAgreeWithTheSamples) {
  EyeModelConfig c;
  c.seed = 11;
  ModelRun r = run_model(c, 20.0);
  // Per eye, events alternate start/end of one phase, the end matching its start; the next
  // phase starts on the sample after the end.
  std::map<int, const ModelEvent *> open;
  std::map<int, uint64_t> next_start;
  for (const ModelEvent &e : r.events) {
    if (e.type == STARTBLINK || e.type == STARTSACC || e.type == STARTFIX) {
      EXPECT_EQ(open.count(e.eye), 0u) << "phase opened twice";
      EXPECT_EQ(e.start_index, next_start[e.eye]);
      EXPECT_EQ(e.start_ms, r.samples[e.start_index].time_ms);
      open[e.eye] = &e;
      continue;
    }
    ASSERT_EQ(open.count(e.eye), 1u);
    const ModelEvent &s = *open[e.eye];
    open.erase(e.eye);
    EXPECT_EQ(e.type, s.type + 1);
    EXPECT_EQ(e.start_ms, s.start_ms);
    EXPECT_EQ(e.end_ms, r.samples[e.end_index].time_ms);
    next_start[e.eye] = e.end_index + 1;
    const Phase want = e.type == ENDFIX    ? Phase::kFixation
                       : e.type == ENDSACC ? Phase::kSaccade
                                           : Phase::kBlink;
    double sum_x = 0;
    for (uint64_t i = e.start_index; i <= e.end_index; ++i) {
      ASSERT_EQ(r.samples[i].phase, want) << i;
      const auto &eye = r.samples[i].eye[e.eye];
      EXPECT_EQ(eye.valid, want != Phase::kBlink);
      if (want == Phase::kBlink) {
        EXPECT_EQ(eye.pupil_size, 0.0);
      }
      sum_x += eye.gaze_x;
    }
    if (want == Phase::kBlink) continue;
    const auto &first = r.samples[e.start_index].eye[e.eye];
    EXPECT_EQ(e.start_x, first.gaze_x);
    EXPECT_EQ(e.end_y, r.samples[e.end_index].eye[e.eye].gaze_y);
    EXPECT_EQ(e.start_pupil, first.pupil_size);
    EXPECT_NEAR(e.avg_x, sum_x / static_cast<double>(e.end_index - e.start_index + 1), 1e-6);
    if (want == Phase::kFixation) {
      // A fixation stays within a degree or so of where it began.
      EXPECT_LT(std::hypot(e.end_x - e.start_x, e.end_y - e.start_y), 36.0);
      EXPECT_LT(e.peak_velocity, 5.0);
    }
  }
}

TEST(SimEyeModel, SameSeedSameOutputOtherSeedOtherOutput) {
  EyeModelConfig c;
  c.seed = 42;
  ModelRun a = run_model(c, 5.0), b = run_model(c, 5.0);
  c.seed = 43;
  ModelRun other = run_model(c, 5.0);
  size_t differ = 0;
  for (size_t i = 0; i < a.samples.size(); ++i) {
    ASSERT_EQ(a.samples[i].eye[1].gaze_x, b.samples[i].eye[1].gaze_x) << i;
    ASSERT_EQ(a.samples[i].eye[0].pupil_size, b.samples[i].eye[0].pupil_size) << i;
    if (a.samples[i].eye[0].gaze_x != other.samples[i].eye[0].gaze_x) ++differ;
  }
  ASSERT_EQ(a.events.size(), b.events.size());
  for (size_t i = 0; i < a.events.size(); ++i)
    EXPECT_EQ(a.events[i].end_index, b.events[i].end_index);
  EXPECT_GT(differ, a.samples.size() / 2);
}

}  // namespace
