#include "data/gaze_mapping.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstddef>

#include "link/connection.h"

namespace lvx {

namespace {

// The href plane's distance from the eye, squared, in href units.
constexpr double kPlaneDistance2 = 2.25e8;
constexpr double kDegreesPerRadian = 57.29577951308232;
// Radians per degree, as the resolution takes it.
constexpr double kRadiansPerDegree = 0.01745;
// A homogeneous coordinate this close to 0 puts the point at infinity.
constexpr float kSmallestW = 1e-8f;

constexpr uint16_t kCornerAuxType = 232;
constexpr uint16_t kMissingWord = 0x8000;

struct Homogeneous {
  float x;
  float y;
  float w;
};

Homogeneous transform(const Matrix3 &m, Homogeneous v) {
  return {v.x * m[0] + v.y * m[3] + v.w * m[6], v.x * m[1] + v.y * m[4] + v.w * m[7],
          v.x * m[2] + v.y * m[5] + v.w * m[8]};
}

int parse_number(std::string_view text, size_t at) {
  int n = 0;
  while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) != 0 &&
         n < 100000) {
    n = n * 10 + (text[at] - '0');
    ++at;
  }
  return n;
}

// Converts through the sample's corners: href to gaze takes the corners' inverse and then the
// display's matrix, gaze to href the display's inverse and then the corners' matrix.
int convert(float *x, float *y, const compact_float_sample *sample, bool href_to_gaze) {
  Matrix3 display;
  {
    MappingRecord &m = mapping_record();
    std::lock_guard lock(m.lock);
    if (!m.ready) return -2;
    display = href_to_gaze ? m.display : m.display_inverse;
  }
  Corners corners;
  if (x == nullptr || y == nullptr || sample == nullptr || !sample_corners(*sample, corners)) {
    return -1;
  }
  const Matrix3 quad = square_to_quad(corners);
  return href_to_gaze ? project(*x, *y, adjugate(quad), display) : project(*x, *y, display, quad);
}

}  // namespace

Matrix3 square_to_quad(const Corners &p) {
  const float x0 = p[0].x, y0 = p[0].y, x1 = p[1].x, y1 = p[1].y;
  const float x2 = p[2].x, y2 = p[2].y, x3 = p[3].x, y3 = p[3].y;
  const float sx = x2 - x3 + x1 - x0;
  const float sy = y2 - y3 + y1 - y0;
  float g = 0;
  float h = 0;
  if (sx != 0.0f || sy != 0.0f) {
    const float den = (y0 - y1) * (x3 - x1) - (y3 - y1) * (x0 - x1);
    // Corners in a line leave no perspective to find: the matrix stays affine.
    if (den != 0.0f) {
      g = (sx * (y0 - y1) - sy * (x0 - x1)) / den;
      h = (sy * (x3 - x1) - sx * (y3 - y1)) / den;
    }
  }
  return {g * x3 + (x3 - x2),
          g * y3 + (y3 - y2),
          g,
          h * x0 + (x0 - x2),
          h * y0 + (y0 - y2),
          h,
          x2,
          y2,
          1.0f};
}

Matrix3 adjugate(const Matrix3 &m) {
  return {m[4] * m[8] - m[7] * m[5], m[7] * m[2] - m[8] * m[1], m[5] * m[1] - m[4] * m[2],
          m[6] * m[5] - m[8] * m[3], m[0] * m[8] - m[6] * m[2], m[3] * m[2] - m[0] * m[5],
          m[7] * m[3] - m[4] * m[6], m[6] * m[1] - m[7] * m[0], m[4] * m[0] - m[3] * m[1]};
}

bool sample_corners(const compact_float_sample &s, Corners &out) {
  if (s.aux_type != kCornerAuxType) return false;
  for (uint16_t w : s.aux_data) {
    if (w == kMissingWord) return false;
  }
  for (size_t i = 0; i < out.size(); ++i) {
    out[i].x = static_cast<int16_t>(s.aux_data[2 * i]);
    out[i].y = static_cast<int16_t>(s.aux_data[2 * i + 1]);
  }
  return true;
}

int project(float &x, float &y, const Matrix3 &first, const Matrix3 &second) {
  Homogeneous v = transform(first, {x, y, 1.0f});
  x = v.x;
  y = v.y;
  v = transform(second, v);
  x = v.x;
  y = v.y;
  if (!(std::fabs(v.w) > kSmallestW)) return -1;
  const float inverse = 1.0f / v.w;
  x *= inverse;
  y *= inverse;
  return 0;
}

double href_angle(float x1, float y1, float x2, float y2) {
  const double a1 = static_cast<double>(x1), b1 = static_cast<double>(y1);
  const double a2 = static_cast<double>(x2), b2 = static_cast<double>(y2);
  const double cosine =
      (a1 * a2 + b1 * b2 + kPlaneDistance2) /
      std::sqrt((a1 * a1 + b1 * b1 + kPlaneDistance2) * (a2 * a2 + b2 * b2 + kPlaneDistance2));
  // Rounding can take the cosine of two equal directions a little past 1.
  return std::acos(std::clamp(cosine, -1.0, 1.0)) * kDegreesPerRadian;
}

void href_resolution(float x, float y, float *xres, float *yres) {
  const double a = static_cast<double>(x), b = static_cast<double>(y);
  const double r2 = (a * a + b * b + kPlaneDistance2) * kRadiansPerDegree;
  if (xres != nullptr) *xres = static_cast<float>(r2 / std::sqrt(b * b + kPlaneDistance2));
  if (yres != nullptr) *yres = static_cast<float>(r2 / std::sqrt(a * a + kPlaneDistance2));
}

TrackerSoftware read_tracker_software(int generation, std::string_view text,
                                      TrackerSoftware stored) {
  if (generation < 2) return stored;
  TrackerSoftware s;
  s.generation = generation;
  // The version follows the model: "LUMAVEX RX 5.7" has it at index 11. A one-letter model
  // ("LUMAVEX T 6.30") has it one place earlier; read from index 11 it would be ".30", version 0.
  size_t at = 11;
  if (text.size() > 10 && std::isdigit(static_cast<unsigned char>(text[10])) != 0) at = 10;
  const size_t dot = at < text.size() ? text.find('.', at) : std::string_view::npos;
  if (dot == std::string_view::npos) return s;
  s.major = parse_number(text, at);
  s.minor = parse_number(text, dot + 1);
  return s;
}

bool mapping_supported(const TrackerSoftware &s) {
  if (s.generation < 2) return false;
  return !(s.major < 2 && (s.major < 1 || s.minor < 16));
}

int initialize_mapping(float left, float top, float right, float bottom) {
  char text[40] = {};
  const int generation = tracker_version(text);
  MappingRecord &m = mapping_record();
  std::lock_guard lock(m.lock);
  m.software = read_tracker_software(generation, text, m.software);
  if (!mapping_supported(m.software)) return -1;
  m.display = square_to_quad(
      {Point2{left, top}, Point2{right, top}, Point2{left, bottom}, Point2{right, bottom}});
  m.display_inverse = adjugate(m.display);
  m.ready = true;
  return 0;
}

int href_to_gaze(float *x, float *y, const compact_float_sample *sample) {
  return convert(x, y, sample, true);
}

int gaze_to_href(float *x, float *y, const compact_float_sample *sample) {
  return convert(x, y, sample, false);
}

}  // namespace lvx
