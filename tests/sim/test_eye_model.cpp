// The synthetic eye: determinism by seed, and prompt saccades to a pointer it follows. (That the
// library reports the events it sends, and the velocity of its saccades, are checked end to end by
// the integration tests.)
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
    EXPECT_GE(saccade_at, 0) << p.first << "," << p.second;
    EXPECT_LE(saccade_at, 101) << p.first << "," << p.second;
    EXPECT_NEAR(last.eye[0].gaze_x, p.first, 12.0);
    EXPECT_NEAR(last.eye[0].gaze_y, p.second, 12.0);
  }
}

}  // namespace
