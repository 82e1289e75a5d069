#include "data/velocity.h"

#include <cmath>

namespace lvx {

namespace {

constexpr float kMissingVelocity = static_cast<float>(MISSING_VALUE);

bool known(float v) {
  return v != kMissingVelocity;
}

// A resolution taken for gaze lies strictly inside this range.
bool usable_resolution(float r) {
  return r > 0.01f && r < 10000.0f;
}

// Another divisor needs only to be above this.
bool usable_divisor(float d) {
  return d > 0.01f;
}

// One axis of one position source across the window.
struct Track {
  std::array<float, kLongestWindow> p{};
  size_t length = 0;

  bool all_present(size_t first, size_t last) const {
    for (size_t i = first; i <= last; ++i) {
      if (!known(p[i])) return false;
    }
    return true;
  }
  float sum(size_t first, size_t last) const {
    float s = 0;
    for (size_t i = first; i <= last; ++i) s += p[i];
    return s;
  }
};

float position(const float_sample &s, int eye, int kind, bool y) {
  const int axis = y ? 1 : 0;
  switch (kind) {
    case 0:
      return y ? s.gaze_y[eye] : s.gaze_x[eye];
    case 1:
      return s.extra_c[axis];
    default:
      return s.extra_a[axis][eye];
  }
}

Track track(const SampleWindow &w, int eye, int kind, bool y) {
  Track t;
  t.length = w.length;
  for (size_t i = 0; i < w.length; ++i) {
    t.p[i] = w.present[i] ? position(w.samples[i], eye, kind, y) : kMissingVelocity;
  }
  return t;
}

struct Divisors {
  float x;
  float y;
};

Divisors velocity_divisors(const float_sample &c, int kind) {
  switch (kind) {
    case 0:
      return {c.res_x, c.res_y};
    case 1:
      return {c.extra3_lead[0], c.extra3_lead[1]};
    default:
      return {c.extra3_point[0], c.extra3_point[1]};
  }
}

// The differentiator. With `full`, the mean of the last k positions minus the mean of the first k
// over the (len - k) samples between them (k = 2, 3, 5 for windows of 5, 9, 17); otherwise, or
// when one of those positions is missing, a difference around the centre.
float differentiate(const Track &t, float res, float rate, bool full) {
  if (res == 0.0f) return kMissingVelocity;
  const size_t len = t.length;
  if (full) {
    size_t k = 0;
    float scale = 0;
    if (len == 17) {
      k = 5;
      scale = 0.016666668f;  // 1 / (5 x 12)
    } else if (len == 9) {
      k = 3;
      scale = 0.055555556f;  // 1 / (3 x 6)
    } else if (len == 5) {
      k = 2;
      scale = 0.16666667f;  // 1 / (2 x 3)
    }
    if (k != 0 && t.all_present(0, k - 1) && t.all_present(len - k, len - 1)) {
      return (t.sum(len - k, len - 1) - t.sum(0, k - 1)) * scale / res * rate;
    }
  }
  const size_t c = len / 2;
  if (c < 1 || c + 1 >= len) return kMissingVelocity;
  const float before = t.p[c - 1], at = t.p[c], after = t.p[c + 1];
  if (known(before) && known(after)) return (after - before) * 0.5f / res * rate;
  if (known(before) && known(at)) return (at - before) * rate / res;
  if (known(at) && known(after)) return (after - at) * rate / res;
  return kMissingVelocity;
}

// The group filter's four groups, as offsets from the centre (first, last of each).
struct Groups {
  size_t span;
  int a0, a1, b0, b1, c0, c1, d0, d1;
};

Groups groups_for_rate(int rate) {
  if (rate < 500) return {5, -2, -2, -1, -1, 1, 1, 2, 2};
  if (rate < 1000) return {9, -4, -3, -2, -1, 1, 2, 3, 4};
  if (rate < 2000) return {19, -9, -6, -5, -2, 2, 5, 6, 9};
  return {39, -19, -12, -11, -4, 4, 11, 12, 19};
}

float group_mean(const Track &t, size_t c, int first, int last) {
  const auto from = static_cast<size_t>(static_cast<long>(c) + first);
  const auto to = static_cast<size_t>(static_cast<long>(c) + last);
  return t.sum(from, to) / static_cast<float>(to - from + 1);
}

// Whether the group span around the centre lies in the window with every position present.
bool span_ready(const Track &t, size_t span) {
  const size_t c = t.length / 2;
  const size_t half = (span & ~size_t{1}) / 2;
  if (half > c || c - half + span > t.length) return false;
  return t.all_present(c - half, c - half + span - 1);
}

// The group filter: the difference of the outer and inner groups' means, scaled for group steps
// of 4 ms whatever the sample rate (hence 250).
float group_velocity(const Track &t, const Groups &g, float divisor) {
  const size_t c = t.length / 2;
  const float a = group_mean(t, c, g.a0, g.a1);
  const float b = group_mean(t, c, g.b0, g.b1);
  const float c2 = group_mean(t, c, g.c0, g.c1);
  const float d = group_mean(t, c, g.d0, g.d1);
  return (d - (a + b) + c2) * 0.167f * (1.0f / divisor) * 250.0f;
}

// The second difference of a track and what it is divided by, for windows of 5, 9 and 17.
bool second_difference(const Track &t, float &value, float &divisor) {
  switch (t.length) {
    case 5:
      value = t.p[4] - 2 * t.p[2] + t.p[0];
      divisor = 4;
      return true;
    case 9:
      value = t.sum(6, 8) - t.sum(4, 6) - t.sum(2, 4) + t.sum(0, 2);
      divisor = 24;
      return true;
    case 17:
      value = t.sum(12, 16) - t.sum(8, 12) - t.sum(4, 8) + t.sum(0, 4);
      divisor = 160;
      return true;
    default:
      return false;
  }
}

}  // namespace

size_t filter_window(int filter_type, float rate) {
  switch (filter_type) {
    case 1:
      return 5;
    case 2:
      return 9;
    case 3:
      return 17;
    case 4: {
      const int r = static_cast<int>(rate);
      if (r <= 250) return 5;
      if (r <= 500) return 9;
      if (r <= 1000) return 19;
      return 39;
    }
    default:
      return 0;
  }
}

Velocity window_velocity(const SampleWindow &w, int filter_type, int eye, int kind) {
  Velocity v;
  // The divisors come from the centre sample: without it there is nothing to divide by.
  if (w.length == 0 || w.length > kLongestWindow || !w.present[w.length / 2]) return v;
  const Track x = track(w, eye, kind, false);
  const Track y = track(w, eye, kind, true);
  const float_sample &centre = w.centre();
  if (filter_type == 4) {
    // The divisors are the resolution whatever the positions are.
    if (!usable_resolution(centre.res_x) || !usable_resolution(centre.res_y)) return v;
    const Groups g = groups_for_rate(static_cast<int>(w.rate));
    if (!span_ready(x, g.span) || !span_ready(y, g.span)) return v;
    v.x = group_velocity(x, g, centre.res_x);
    v.y = group_velocity(y, g, centre.res_y);
    return v;
  }
  const Divisors d = velocity_divisors(centre, kind);
  if (kind == 0 && (!usable_resolution(d.x) || !usable_resolution(d.y))) return v;
  // A divisor that fails stops the calculation there: x first, then y.
  if (!usable_divisor(d.x)) return v;
  v.x = differentiate(x, d.x, w.rate, true);
  if (!usable_divisor(d.y)) return v;
  v.y = differentiate(y, d.y, w.rate, true);
  return v;
}

float window_acceleration(const SampleWindow &w, int filter_type, int eye, int kind) {
  if (filter_type < 1 || filter_type > 3 || w.length == 0 || w.length > kLongestWindow ||
      !w.present[w.length / 2]) {
    return kMissingVelocity;
  }
  const float_sample &centre = w.centre();
  if (!known(centre.res_x) || !known(centre.res_y)) return kMissingVelocity;
  const Track x = track(w, eye, kind, false);
  const Track y = track(w, eye, kind, true);
  if (!x.all_present(0, w.length - 1) || !y.all_present(0, w.length - 1)) return kMissingVelocity;
  float dx = 0, dy = 0, divisor = 0;
  if (!second_difference(x, dx, divisor) || !second_difference(y, dy, divisor))
    return kMissingVelocity;
  const float rate2 = w.rate * w.rate;
  const float ax = dx / divisor / centre.res_x * rate2;
  const float ay = dy / divisor / centre.res_y * rate2;
  const float magnitude = std::sqrt(ax * ax + ay * ay);

  // The sign comes from the x and y velocities, by central differences, with the divisors of the
  // other extra source (kind 1 takes extra3_point, kind 2 extra3_lead).
  Divisors k{};
  switch (kind) {
    case 0:
      k = {usable_resolution(centre.res_x) ? centre.res_x : kMissingVelocity,
           usable_resolution(centre.res_y) ? centre.res_y : kMissingVelocity};
      break;
    case 1:
      k = {centre.extra3_point[0], centre.extra3_point[1]};
      break;
    default:
      k = {centre.extra3_lead[0], centre.extra3_lead[1]};
      break;
  }
  const float vx = differentiate(x, k.x, w.rate, false);
  const float vy = differentiate(y, k.y, w.rate, false);
  return vx - vy < 0.0f ? -magnitude : magnitude;
}

float combined_velocity(Velocity v) {
  if (!known(v.x)) return known(v.y) ? std::fabs(v.y) : kMissingVelocity;
  if (!known(v.y)) return std::fabs(v.x);
  return std::sqrt(v.x * v.x + v.y * v.y);
}

}  // namespace lvx
