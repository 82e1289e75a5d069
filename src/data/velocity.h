// Eye velocity and acceleration from a window of consecutive samples. Pure: the window and the
// sample rate are passed in.
//
// Filter types 1, 2 and 3 differentiate over windows of 5, 9 and 17 samples: the mean of the last
// two, three or five positions minus the mean of the first as many, over the time between them,
// falling back to a central difference around the window's centre when a position is missing.
// Type 4 (the group filter) takes a window by sample rate and compares the means of four groups
// of samples, each 4 ms wide. Positions are divided by a resolution (pixels per degree for gaze)
// to give degrees.
#pragma once

#include <array>
#include <cstddef>

#include "lumavex_core.h"

namespace lvx {

// The longest window (the group filter above 1000 Hz).
constexpr size_t kLongestWindow = 39;

// The window length of a filter type at a sample rate; 0 for an invalid type.
size_t filter_window(int filter_type, float rate);

// Position sources of one eye: 0 gaze (divided by the resolution), 1 extra_c (divided by
// extra3_lead), 2 extra_a's rows (divided by extra3_point).
constexpr int kPositionKinds = 3;

// A window of samples, oldest first; the centre sample is samples[length / 2]. An empty slot (a
// sample that could not be decoded) has no positions. Only the first `length` entries are read,
// and only those of them that are present (the rest are not even cleared, which would cost more
// than the calculation).
struct SampleWindow {
  std::array<float_sample, kLongestWindow> samples;
  std::array<bool, kLongestWindow> present;
  size_t length = 0;
  float rate = 0;  // samples per second

  const float_sample &centre() const { return samples[length / 2]; }
};

// The x and y velocity of one eye from one position source, by filter type (1..4).
struct Velocity {
  float x = static_cast<float>(MISSING_VALUE);
  float y = static_cast<float>(MISSING_VALUE);
};
Velocity window_velocity(const SampleWindow &w, int filter_type, int eye, int kind);

// The acceleration of one eye from one position source (filter types 1..3; missing for 4): the
// length of its x and y parts, negative when the x velocity is below the y velocity.
float window_acceleration(const SampleWindow &w, int filter_type, int eye, int kind);

// The length of an x and y velocity: either alone when the other is missing, missing when both
// are.
float combined_velocity(Velocity v);

}  // namespace lvx
