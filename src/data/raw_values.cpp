#include "data/raw_values.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "data/stream_queries.h"
#include "link/log.h"

namespace lvx {

namespace {

constexpr float kMissing = static_cast<float>(MISSING_VALUE);
constexpr int32_t kMissingInt = MISSING_VALUE;

// Fraction packing: whole sixteenths of a pixel travel offset by this, the 4-bit fraction in the
// gaze fields counts 1/256 pixel, and the result is offset by 400 pixels.
constexpr float kPackingOffset = 32700.0f;
constexpr double kWireOffset = 32700.0;
constexpr double kSixteenthsPerPixel = 16.0;
constexpr double kPixelsPerUnit = 0.00390625;  // 1/256
constexpr double kPositionOffset = 400.0;
// A pupil size at or below this (as fraction packing gives it) means no pupil.
constexpr float kNoPupil = -32700.0f;
// Direct packing: the aux words count 1/250 pixel from the origin.
constexpr double kDirectUnit = 0.004;

// The aux words of each packing.
namespace aux {
constexpr int kPupilX = 0, kPupilY = 1, kCrX = 2, kCrY = 3, kPupilArea = 4, kCrArea = 5,
              kPupilDim = 6, kCrDim = 7;
constexpr uint16_t kTypeCode = 196;      // one code and point, words 0..3
constexpr uint16_t kTypeCodeBoth = 200;  // the right eye's code and point in words 4..7
}  // namespace aux

// Overlap correction: 1/pi, and the pi of the CR disc's area.
constexpr double kInversePi = 0.31831014;
constexpr double kPi = 3.14159;

bool present(float v) {
  return v != kMissing;
}

int16_t signed_word(const compact_float_sample &s, int i) {
  return static_cast<int16_t>(s.aux_data[i]);
}

// The two bytes of a word as (low unsigned, high signed): how dimensions are packed.
void split_word(uint16_t w, int32_t (&out)[2]) {
  out[0] = w & 0xFF;
  out[1] = static_cast<int8_t>(w >> 8);
}

// The 16-bit wire value behind a field scaled by the prescaler, offset into 0..65535.
//
// The sample's float is the wire integer divided by the prescaler; multiplying back gives that
// integer only up to rounding (7 / 10 x 10 is 6.9999995 in single precision), so it is rounded to
// the nearest integer rather than cut: cutting would take a whole unit (a sixteenth of a pixel,
// or a pixel of a dimension) off some values.
int32_t packed_word(float scaled, float prescaler) {
  return static_cast<int32_t>(
      std::lround(static_cast<double>(prescaler) * static_cast<double>(scaled) + kWireOffset));
}

// Fraction packing: whole sixteenths (offset by 32700) and the 4-bit fraction of 1/256 pixel.
float fraction_position(float whole, int32_t fraction) {
  const double units = fraction + (static_cast<double>(whole) + kWireOffset) * kSixteenthsPerPixel;
  return static_cast<float>(units * kPixelsPerUnit - kPositionOffset);
}

}  // namespace

bool raw_packed_directly(const compact_float_sample &s, int eye) {
  return s.pupil_size[eye] >= 0.0f;
}

void unpack_raw_values(const compact_float_sample &s, int eye, uint16_t prescaler,
                       raw_values &out) {
  const float p = prescaler == 0 ? 1.0f : static_cast<float>(prescaler);
  const bool direct = raw_packed_directly(s, eye);
  const int32_t origin_x = (s.input & 0x1FF) * 4 + 88;
  const int32_t origin_y = (s.input >> 9) * 8 + 95;

  // Areas.
  if (s.pupil_size[eye] <= kNoPupil) {
    out.pupil_area = 0;
  } else if (direct) {
    out.pupil_area = signed_word(s, aux::kPupilArea);
  } else {
    out.pupil_area = static_cast<int32_t>(s.pupil_size[eye] + kPackingOffset);
  }
  if (direct) {
    out.cr_area = s.aux_data[aux::kCrArea];
  } else {
    // The CR areas of the two eyes travel in the two resolution fields. A sample without them
    // has no reflection.
    const float res = eye == 0 ? s.res_x : s.res_y;
    out.cr_area =
        present(res)
            ? static_cast<int32_t>(std::lround(static_cast<double>(p) * static_cast<double>(res)))
            : 0;
  }

  // The fraction fields: pupil fractions and one dimension in gaze x, CR fractions and the other
  // dimension in gaze y.
  const bool gaze_x = present(s.gaze_x[eye]);
  const bool gaze_y = present(s.gaze_y[eye]);
  const int32_t gx = gaze_x ? packed_word(s.gaze_x[eye], p) : 0;
  const int32_t gy = gaze_y ? packed_word(s.gaze_y[eye], p) : 0;

  out.pupil_raw_x = out.pupil_raw_y = kMissing;
  if (out.pupil_area != 0) {
    if (direct) {
      out.pupil_raw_x = static_cast<float>(origin_x + signed_word(s, aux::kPupilX) * kDirectUnit);
      out.pupil_raw_y = static_cast<float>(origin_y + signed_word(s, aux::kPupilY) * kDirectUnit);
    } else if (present(s.pupil_x[eye]) && present(s.pupil_y[eye]) && gaze_x) {
      out.pupil_raw_x = fraction_position(s.pupil_x[eye], (gx >> 4) & 15);
      out.pupil_raw_y = fraction_position(s.pupil_y[eye], gx & 15);
    }
  }
  out.cr_raw_x = out.cr_raw_y = kMissing;
  if (out.cr_area != 0) {
    if (direct) {
      out.cr_raw_x = static_cast<float>(origin_x + signed_word(s, aux::kCrX) * kDirectUnit);
      out.cr_raw_y = static_cast<float>(origin_y + signed_word(s, aux::kCrY) * kDirectUnit);
    } else if (present(s.href_x[eye]) && present(s.href_y[eye]) && gaze_y) {
      out.cr_raw_x = fraction_position(s.href_x[eye], (gy >> 4) & 15);
      out.cr_raw_y = fraction_position(s.href_y[eye], gy & 15);
    }
  }

  // Dimensions.
  if (out.pupil_area == 0) {
    out.pupil_dim[0] = out.pupil_dim[1] = 0;
  } else if (direct) {
    split_word(s.aux_data[aux::kPupilDim], out.pupil_dim);
  } else if (!gaze_x || !gaze_y) {
    out.pupil_dim[0] = out.pupil_dim[1] = kMissingInt;
  } else {
    out.pupil_dim[0] = (gy >> 8) & 0xFF;
    out.pupil_dim[1] = (gx >> 8) & 0xFF;
  }
  if (s.aux_type != aux::kTypeCodeBoth) {
    split_word(s.aux_data[aux::kCrDim], out.cr_dim);
  } else {
    out.cr_dim[0] = out.cr_dim[1] = kMissingInt;
  }
  out.origin_x = origin_x;
  out.origin_y = origin_y;

  // The auxiliary code and its point (x whole, y whole, then the fractions of both as bytes).
  const bool right_words = s.aux_type == aux::kTypeCodeBoth && eye == 1;
  if (direct || (s.aux_type != aux::kTypeCode && s.aux_type != aux::kTypeCodeBoth)) {
    out.aux_code = 0;
  } else {
    out.aux_code = signed_word(s, right_words ? 7 : 3);
  }
  if (out.aux_code == 0) {
    out.aux_point[0] = out.aux_point[1] = kMissing;
  } else {
    const int k = right_words ? 4 : 0;
    const uint16_t fractions = s.aux_data[k + 2];
    out.aux_point[0] =
        static_cast<float>(signed_word(s, k) + static_cast<int8_t>(fractions >> 8) / 256.0);
    out.aux_point[1] = static_cast<float>(signed_word(s, k + 1) + (fractions & 0xFF) / 256.0);
  }
}

void set_pupil_minus_cr(raw_values &r) {
  const bool x = present(r.pupil_raw_x) && present(r.cr_raw_x);
  const bool y = present(r.pupil_raw_y) && present(r.cr_raw_y);
  r.pupil_cr_x = x ? r.pupil_raw_x - r.cr_raw_x : kMissing;
  r.pupil_cr_y = y ? r.pupil_raw_y - r.cr_raw_y : kMissing;
}

PupilFit correct_pupil_overlap(const raw_values &r, float margin, int passes) {
  const auto px = static_cast<double>(r.pupil_raw_x), py = static_cast<double>(r.pupil_raw_y);
  const auto cx = static_cast<double>(r.cr_raw_x), cy = static_cast<double>(r.cr_raw_y);
  const auto area = static_cast<double>(r.pupil_area);
  PupilFit fit{r.pupil_raw_x, r.pupil_raw_y, r.pupil_area};
  if (r.pupil_area < 1 || r.cr_area < 1 || passes < 1 || !present(r.pupil_raw_x) ||
      !present(r.pupil_raw_y) || !present(r.cr_raw_x) || !present(r.cr_raw_y)) {
    return fit;
  }
  // The CR disc, widened by the margin, and the centre of pupil and disc taken together.
  const double rc = std::sqrt(r.cr_area * kInversePi) + static_cast<double>(margin);
  if (!(rc > 0.0)) return fit;
  const double disc = rc * rc * kPi;
  const double joint_area = area + disc;
  const double jx = (cx * disc + px * area) / joint_area;
  const double jy = (cy * disc + py * area) / joint_area;
  // How far the disc reaches into a pupil of this centre and area, as a share of its radius.
  auto overlap = [&](double x, double y, double a) {
    return (std::sqrt(a * kInversePi) - (std::hypot(x - cx, y - cy) - rc)) * 0.5 / rc;
  };
  double f = overlap(px, py, area);
  if (f < 0.0) return fit;  // the reflection lies clear of the pupil
  double x = px, y = py, a = area;
  for (int pass = 0; pass < passes && (pass == 0 || f > 0.0); ++pass) {
    if (pass > 0) f = std::max(0.0, overlap(x, y, a));
    f = std::min(f, 1.0);
    x = f * jx + (1.0 - f) * px;
    y = f * jy + (1.0 - f) * py;
    a = f * joint_area + (1.0 - f) * area;
  }
  fit.x = static_cast<float>(x);
  fit.y = static_cast<float>(y);
  fit.area = static_cast<int32_t>(std::lround(a));
  return fit;
}

void preprocess_raw(int passes, float margin, float scale_x, float scale_y, float gain_x,
                    float gain_y, const raw_values &in, corrected_raw &out) {
  const PupilFit fit = correct_pupil_overlap(in, margin, passes);
  const float area = static_cast<float>(fit.area);
  out.pupil_area = fit.area;
  out.pupil_x = present(fit.x) ? fit.x + area * gain_x : kMissing;
  out.pupil_y = present(fit.y) ? fit.y + area * gain_y : kMissing;
  out.cr_x = present(in.cr_raw_x) ? in.cr_raw_x * scale_x : kMissing;
  out.cr_y = present(in.cr_raw_y) ? in.cr_raw_y * scale_y : kMissing;
  out.diff_x = present(out.pupil_x) && present(out.cr_x) ? out.pupil_x - out.cr_x : kMissing;
  out.diff_y = present(out.pupil_y) && present(out.cr_y) ? out.pupil_y - out.cr_y : kMissing;
}

bool unpack_raw_values_direct(const compact_float_sample &s, uint16_t prescaler, raw_values &out) {
  if (!raw_packed_directly(s, 0) || !raw_packed_directly(s, 1)) return false;
  raw_values r = out;
  unpack_raw_values(s, 0, prescaler, r);
  r.aux_code = out.aux_code;
  std::memcpy(r.aux_point, out.aux_point, sizeof r.aux_point);
  // The pupil as corrected for the reflection, against the reflection given a little more weight.
  constexpr float kCrWeight = 1.02f;
  const PupilFit fit = correct_pupil_overlap(r, 3.0f, 5);
  const bool x = present(fit.x) && present(r.cr_raw_x);
  const bool y = present(fit.y) && present(r.cr_raw_y);
  r.pupil_cr_x = x ? fit.x - kCrWeight * r.cr_raw_x : kMissing;
  r.pupil_cr_y = y ? fit.y - kCrWeight * r.cr_raw_y : kMissing;
  out = r;
  return true;
}

int16_t reconstruct_raw(const compact_float_sample *s, int eye, raw_values *out,
                        bool with_difference) {
  if (s == nullptr || out == nullptr || (eye != 0 && eye != 1)) return -1;
  unpack_raw_values(*s, eye, data_flags().position_prescaler, *out);
  if (with_difference) set_pupil_minus_cr(*out);
  return 0;
}

int16_t reconstruct_raw_direct(const compact_float_sample *s, raw_values *out) {
  if (s == nullptr || out == nullptr) return -1;
  if (!unpack_raw_values_direct(*s, data_flags().position_prescaler, *out)) {
    console_printf(
        "lumavex_get_extra_raw_values deprecated!. use lumavex_get_extra_raw_values_v2 \n");
    return -1;
  }
  return 0;
}

int16_t reconstruct_and_preprocess_raw(const compact_float_sample *s, int eye, corrected_raw *out) {
  if (out == nullptr) return -1;
  raw_values r{};
  if (reconstruct_raw(s, eye, &r, false) != 0) return -1;
  preprocess_raw(5, 3.0f, 1.01f, 1.01f, 0.0f, -0.001f, r, *out);
  return 0;
}

}  // namespace lvx
