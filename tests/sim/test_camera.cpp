// The simulated tracker's camera pictures, image segments, calibration patterns and the eye that
// looks at targets.
#include <gtest/gtest.h>

#include <cmath>

#include "sim/camera.h"
#include "sim/eye_model.h"

namespace {

int16_t be16(const std::array<uint8_t, 48> &info, size_t at) {
  return static_cast<int16_t>(info[at] << 8 | info[at + 1]);
}

TEST(SimCamera, PictureMarkersFollowThePupilAndTheGaze) {
  lvxsim::CameraScene scene;
  double last_x = -1;
  for (double gaze_x : {200.0, 512.0, 800.0}) {
    scene.gaze_x = gaze_x;
    const auto pic = lvxsim::render_camera(scene, 192, 160);
    ASSERT_TRUE(pic.pupil_found);
    const int x = be16(pic.info, 24) * 192 / 8192, y = be16(pic.info, 26) * 160 / 8192;
    EXPECT_NEAR(x, pic.pupil_x, 1.0);
    EXPECT_EQ(pic.pixels[static_cast<size_t>(y * 192 + x)], lvxsim::kPupilColour);
    EXPECT_GT(pic.pupil_x, last_x);  // looking further right moves the pupil right
    last_x = pic.pupil_x;
    EXPECT_EQ(pic.info[2], lvxsim::kCameraLeftEye);
    EXPECT_EQ(pic.info[3], 88);
  }
  // Closed in a blink: no pupil, lost-feature flags, missing markers.
  scene.blink = 1.0;
  const auto closed = lvxsim::render_camera(scene, 192, 160);
  EXPECT_FALSE(closed.pupil_found);
  EXPECT_EQ(be16(closed.info, 24), -32768);
  EXPECT_NE(closed.info[4] & 0x01, 0);  // flags 0x100: pupil lost
  // The head camera's last line carries both eyes' records when asked for.
  scene = {};
  scene.camera = lvxsim::kCameraHead;
  scene.extended = true;
  const auto head = lvxsim::render_camera(scene, 192, 160);
  const uint8_t *last = head.pixels.data() + 159 * 192;
  EXPECT_EQ(last[0], 255);
  EXPECT_EQ(last[3], 2);
}

TEST(SimCamera, SegmentsCountAsTheDisplayCountsThem) {
  std::vector<uint8_t> stream(2500, 7);
  std::array<uint8_t, 48> info{};
  const auto segs = lvxsim::imgcode::segments(stream, info, 100, 25, 1200);
  ASSERT_EQ(segs.size(), 3u);
  EXPECT_EQ(segs[0].size(), 48u + 1200u + 44u);  // info + data + 44
  EXPECT_EQ(segs[1].size(), 1200u + 34u);
  EXPECT_EQ(segs[2].size(), 100u + 34u);
  EXPECT_EQ(segs[2][21], 2);  // segment number
}

TEST(SimCamera, CalibrationPatternsAndTheEyeThatFollowsTargets) {
  for (int points : {3, 5, 9, 13}) {
    const auto t = lvxsim::calibration_targets(points, 1024, 768);
    EXPECT_EQ(t.size(), static_cast<size_t>(points));
    for (const auto &p : t) {
      EXPECT_GT(p.x, 0.0f);
      EXPECT_LT(p.x, 1024.0f);
    }
    if (points != 3) {
      EXPECT_FLOAT_EQ(t[0].x, 512.0f);  // centre first
    }
  }
  lvxsim::EyeModelConfig c;
  c.mean_blink_interval_s = 100;
  lvxsim::EyeModel eye(c);
  eye.look_at(std::make_pair(150.0, 600.0));
  lvxsim::ModelSample s;
  for (int i = 0; i < 1500; ++i) s = eye.next().sample;  // 1.5 s at 1000 Hz
  EXPECT_LT(std::hypot(s.eye[0].gaze_x - 150.0, s.eye[0].gaze_y - 600.0), 36.0);
}

}  // namespace
