#include "sim/screen_geometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace lvxsim {

double distance_for_resolution(double pixels_per_degree) {
  return pixels_per_degree * 180.0 / std::numbers::pi;
}

std::pair<double, double> href_of_pixel(const ScreenGeometry &g, double x, double y) {
  const double t = g.tilt_deg * std::numbers::pi / 180.0;
  const double across = x - g.width / 2.0;
  const double down = y - g.height / 2.0;
  // The point in the eye's frame: x right, y down, z ahead. The tilt turns the screen about its
  // horizontal centre line, so that its top (down < 0) comes nearer for a positive tilt.
  const double X = across;
  const double Y = down * std::cos(t);
  const double Z = g.distance_px + down * std::sin(t);
  return {kHrefDistance * X / Z, kHrefDistance * Y / Z};
}

std::array<uint16_t, 8> corner_aux_words(const ScreenGeometry &g) {
  const double right = g.width - 1;
  const double bottom = g.height - 1;
  const std::pair<double, double> corners[4] = {href_of_pixel(g, 0, 0), href_of_pixel(g, right, 0),
                                                href_of_pixel(g, 0, bottom),
                                                href_of_pixel(g, right, bottom)};
  std::array<uint16_t, 8> words{};
  for (size_t i = 0; i < 4; ++i) {
    // -32768 would read as missing.
    auto word = [](double v) {
      return static_cast<uint16_t>(
          static_cast<int16_t>(std::clamp(std::round(v), -32767.0, 32767.0)));
    };
    words[2 * i] = word(corners[i].first);
    words[2 * i + 1] = word(corners[i].second);
  }
  return words;
}

}  // namespace lvxsim
