// Exported gaze arithmetic: raw camera values unpacked from samples, velocity and acceleration
// from the newest samples, and the href and gaze mapping.
#include "api/guard.h"
#include "data/gaze_mapping.h"
#include "data/raw_values.h"
#include "data/velocity_history.h"
#include "lumavex_core.h"

using lvx::api::guard;
using lvx::api::guard_void;

extern "C" {

int16_t lumavex_reconstr_raw_link_data(const compact_float_sample *sample, int eye,
                                       raw_values *out) noexcept {
  return guard(int16_t{-1}, [&] { return lvx::reconstruct_raw(sample, eye, out, false); });
}

int16_t lumavex_get_extra_raw_values_v2(const compact_float_sample *sample, int eye,
                                        raw_values *out) noexcept {
  return guard(int16_t{-1}, [&] { return lvx::reconstruct_raw(sample, eye, out, true); });
}

int16_t lumavex_get_extra_raw_values(const compact_float_sample *sample, raw_values *out) noexcept {
  return guard(int16_t{-1}, [&] { return lvx::reconstruct_raw_direct(sample, out); });
}

int16_t preprocess_raw_link_data(int passes, float margin, float scale_x, float scale_y,
                                 float area_gain_x, float area_gain_y, const raw_values *in,
                                 corrected_raw *out) noexcept {
  return guard(int16_t{-1}, [&] {
    if (in == nullptr || out == nullptr) return int16_t{-1};
    lvx::preprocess_raw(passes, margin, scale_x, scale_y, area_gain_x, area_gain_y, *in, *out);
    return int16_t{0};
  });
}

int16_t lumavex_reconstr_preprocess_raw_link_data(const compact_float_sample *sample, int eye,
                                                  corrected_raw *out) noexcept {
  return guard(int16_t{-1}, [&] { return lvx::reconstruct_and_preprocess_raw(sample, eye, out); });
}

int16_t lumavex_calculate_velocity_x_y(int filter_type, float xvel[2], float yvel[2],
                                       compact_float_sample *vel_sample) noexcept {
  return guard(int16_t{-1},
               [&] { return lvx::calculate_velocity_x_y(filter_type, xvel, yvel, vel_sample); });
}

int16_t lumavex_calculate_velocity(int filter_type, float vel[2],
                                   compact_float_sample *vel_sample) noexcept {
  return guard(int16_t{-1}, [&] { return lvx::calculate_velocity(filter_type, vel, vel_sample); });
}

int16_t lumavex_calculate_overallvelocity_and_acceleration(
    int filter_type, float vel[2], float acc[2], compact_float_sample *vel_sample) noexcept {
  return guard(int16_t{-1}, [&] {
    return lvx::calculate_velocity_and_acceleration(filter_type, vel, acc, vel_sample);
  });
}

int16_t lumavex_calculate_overallvelocity_and_acceleration2(int filter_type, float out[18],
                                                            float_data *vel_sample) noexcept {
  return guard(int16_t{-1}, [&] {
    return lvx::calculate_velocity_and_acceleration_all(filter_type, out, vel_sample);
  });
}

int lumavex_initialize_mapping(float left, float top, float right, float bottom) noexcept {
  return guard(-1, [&] { return lvx::initialize_mapping(left, top, right, bottom); });
}

int lumavex_href_to_gaze(float *x, float *y, const compact_float_sample *sample) noexcept {
  return guard(-1, [&] { return lvx::href_to_gaze(x, y, sample); });
}

int lumavex_gaze_to_href(float *x, float *y, const compact_float_sample *sample) noexcept {
  return guard(-1, [&] { return lvx::gaze_to_href(x, y, sample); });
}

double lumavex_href_angle(float x1, float y1, float x2, float y2) noexcept {
  return guard(0.0, [&] { return lvx::href_angle(x1, y1, x2, y2); });
}

void lumavex_href_resolution(float x, float y, float *xres, float *yres) noexcept {
  guard_void([&] { lvx::href_resolution(x, y, xres, yres); });
}

}  // extern "C"
