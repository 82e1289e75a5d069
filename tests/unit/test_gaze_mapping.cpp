// Href and gaze mapping against the screen geometry the simulated tracker describes: round trips
// over the screen, the corners, the point at infinity, the version rule, angles and resolution.
#include <gtest/gtest.h>

#include <cmath>

#include "data/gaze_mapping.h"
#include "lumavex_core.h"
#include "sim/screen_geometry.h"

namespace {

using lvx::Corners;
using lvx::Matrix3;
using lvx::Point2;

compact_float_sample with_corners(const std::array<uint16_t, 8> &words) {
  compact_float_sample s{};
  s.aux_type = LUMAVEX_AUX_HREF_CORNERS;
  for (size_t i = 0; i < 8; ++i) s.aux_data[i] = words[i];
  return s;
}

// A 1280 x 1024 screen 1600 pixels away, its top tilted 15 degrees toward the eye: the corners
// make a trapezoid on the href plane, so the mapping needs its perspective part.
TEST(GazeMapping, RoundTripsOverTheScreenThroughItsCorners) {
  lvxsim::ScreenGeometry g;
  g.width = 1280;
  g.height = 1024;
  g.distance_px = 1600;
  g.tilt_deg = 15;
  const compact_float_sample sample = with_corners(lvxsim::corner_aux_words(g));
  Corners corners;
  ASSERT_TRUE(lvx::sample_corners(sample, corners));
  const Matrix3 quad = lvx::square_to_quad(corners);
  const Matrix3 display =
      lvx::square_to_quad({Point2{0, 0}, Point2{1279, 0}, Point2{0, 1023}, Point2{1279, 1023}});
  const Matrix3 quad_inverse = lvx::adjugate(quad);
  const Matrix3 display_inverse = lvx::adjugate(display);

  // Every point of a grid, and points a pixel from the corners: href to gaze gives the pixel
  // (within the rounding of the corners to whole href units, about a tenth of a pixel here), and
  // gaze to href gives the point's href.
  std::vector<std::pair<double, double>> points;
  for (double x = 0; x <= 1279; x += 1279.0 / 8) {
    for (double y = 0; y <= 1023; y += 1023.0 / 8) points.emplace_back(x, y);
  }
  for (auto [x, y] : {std::pair{1.0, 1.0}, {1278.0, 1.0}, {1.0, 1022.0}, {1278.0, 1022.0}}) {
    points.emplace_back(x, y);
  }
  for (auto [px, py] : points) {
    const auto [hx, hy] = lvxsim::href_of_pixel(g, px, py);
    float x = static_cast<float>(hx), y = static_cast<float>(hy);
    ASSERT_EQ(lvx::project(x, y, quad_inverse, display), 0);
    EXPECT_NEAR(x, px, 0.25) << px << "," << py;
    EXPECT_NEAR(y, py, 0.25) << px << "," << py;
    float bx = static_cast<float>(px), by = static_cast<float>(py);
    ASSERT_EQ(lvx::project(bx, by, display_inverse, quad), 0);
    EXPECT_NEAR(bx, hx, 2.0) << px << "," << py;
    EXPECT_NEAR(by, hy, 2.0) << px << "," << py;
  }

  // A sample of another aux type, or with a missing corner word, has no corners.
  compact_float_sample other = sample;
  other.aux_type = 200;
  EXPECT_FALSE(lvx::sample_corners(other, corners));
  other = sample;
  other.aux_data[5] = 0x8000;
  EXPECT_FALSE(lvx::sample_corners(other, corners));
}

// The trapezoid (-1, 2), (1, 2), (-2, 0), (2, 0): its sides meet at (0, 4), the image of a point
// at infinity, which maps to no point of the display.
TEST(GazeMapping, WhereTheSidesMeetMapsToInfinity) {
  const Matrix3 quad =
      lvx::square_to_quad({Point2{-1, 2}, Point2{1, 2}, Point2{-2, 0}, Point2{2, 0}});
  const Matrix3 display =
      lvx::square_to_quad({Point2{0, 0}, Point2{100, 0}, Point2{0, 100}, Point2{100, 100}});
  float x = 0, y = 4;
  EXPECT_EQ(lvx::project(x, y, lvx::adjugate(quad), display), -1);
  // Halfway up the trapezoid's axis: a perspective keeps the cross-ratio of the axis's points
  // 0, 1, 2 and the vanishing point 4, (2 x 3) / (1 x 4), so with the bottom at 100 and the top
  // at 0 the point lands at 100 / 1.5 on the display's centre line.
  x = 0;
  y = 1;
  ASSERT_EQ(lvx::project(x, y, lvx::adjugate(quad), display), 0);
  EXPECT_NEAR(x, 50.0f, 1e-3f);
  EXPECT_NEAR(y, 100.0f / 1.5f, 1e-3f);
}

TEST(GazeMapping, TrackerVersionRule) {
  using lvx::TrackerSoftware;
  const TrackerSoftware none;
  auto supported = [&](int generation, const char *text) {
    return lvx::mapping_supported(lvx::read_tracker_software(generation, text, none));
  };
  EXPECT_FALSE(supported(1, "LUMAVEX K 2.0"));
  EXPECT_FALSE(supported(2, "LUMAVEX KK 1.15"));
  EXPECT_TRUE(supported(2, "LUMAVEX KK 1.16"));
  EXPECT_FALSE(supported(2, "LUMAVEX KK 0.99"));
  EXPECT_TRUE(supported(3, "LUMAVEX RX 5.7"));
  EXPECT_FALSE(supported(4, "LUMAVEX TQ 1.2"));  // 1.2 is before 1.16
  EXPECT_TRUE(supported(4, "LUMAVEX T 6.30"));   // the version one place earlier
  EXPECT_FALSE(supported(3, "LUMAVEX RX 5"));    // no '.': too old
  // A first-generation tracker leaves what an earlier one stored.
  const TrackerSoftware rx = lvx::read_tracker_software(3, "LUMAVEX RX 5.7", none);
  EXPECT_EQ(lvx::read_tracker_software(1, "LUMAVEX K 0.1", rx).major, 5);
}

TEST(GazeMapping, AnglesAndResolution) {
  EXPECT_EQ(lvx::href_angle(0, 0, 0, 0), 0.0);
  EXPECT_EQ(lvx::href_angle(1234, -567, 1234, -567), 0.0);
  EXPECT_NEAR(lvx::href_angle(15000, 0, 0, 0), 45.0, 1e-9);
  float xres = 0, yres = 0;
  lvx::href_resolution(0, 0, &xres, &yres);
  EXPECT_FLOAT_EQ(xres, 261.75f);
  EXPECT_FLOAT_EQ(yres, 261.75f);
  // Away from the centre: href units per degree as the angle itself counts them, across and down.
  const float x = 6000, y = -3000, d = 1;
  lvx::href_resolution(x, y, &xres, &yres);
  EXPECT_NEAR(static_cast<double>(xres) * lvx::href_angle(x, y, x + d, y), 1.0, 2e-3);
  EXPECT_NEAR(static_cast<double>(yres) * lvx::href_angle(x, y, x, y + d), 1.0, 2e-3);
  lvx::href_resolution(x, y, nullptr, &yres);  // either pointer may be null
}

}  // namespace
