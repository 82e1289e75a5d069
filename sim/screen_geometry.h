// Where the display lies in front of the eye, and so where each of its pixels lies on the
// head-referenced (href) plane: the plane 15000 href units in front of the eye, on which a
// direction (X, Y, Z) from the eye has the position 15000 x (X / Z, Y / Z).
//
// The screen is flat, its centre straight ahead at `distance_px` (in its own square pixels), and
// it may be tilted about its horizontal centre line; a tilt brings one edge nearer the eye than
// the other, so that pixels map to href through a true perspective transform. Pure.
#pragma once

#include <array>
#include <cstdint>
#include <utility>

namespace lvxsim {

inline constexpr double kHrefDistance = 15000.0;

struct ScreenGeometry {
  int width = 1024;
  int height = 768;
  double distance_px = 2062.65;  // 36 pixels per degree at the centre
  double tilt_deg = 0;           // positive: the top edge nearer the eye
};

// The eye-to-screen distance that gives `pixels_per_degree` at the screen's centre.
double distance_for_resolution(double pixels_per_degree);

// The href position of a point on the screen (pixels from the top-left corner).
std::pair<double, double> href_of_pixel(const ScreenGeometry &g, double x, double y);

// The href positions of the corner pixels, rounded to whole units, as the eight aux words of
// aux type 232: top-left (0, 0), top-right (width - 1, 0), bottom-left (0, height - 1) and
// bottom-right (width - 1, height - 1), x then y each.
std::array<uint16_t, 8> corner_aux_words(const ScreenGeometry &g);

}  // namespace lvxsim
