#include "sim/raw_camera.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace lvxsim {

namespace {

constexpr float kMissing = -32768.0f;

// The origin's grid and where it sits: this far up and left of the pupil.
constexpr int kOriginStepX = 4, kOriginBaseX = 88, kOriginStepY = 8, kOriginBaseY = 95;
constexpr double kOriginLead = 60.0;
constexpr double kDirectUnit = 0.004;  // 1/250 pixel
// Fraction packing: positions + 400 in 1/256 pixel; the whole sixteenths are offset by 32700.
constexpr double kFractionOffset = 400.0;
constexpr int kWholeOffset = 32700;
constexpr uint8_t kAuxDirect = 8;      // eight aux words, no code
constexpr uint8_t kAuxCodeBoth = 200;  // eight aux words: each eye's code and point
constexpr int16_t kTargetSeen = 1;

int16_t clamp16(long v) {
  return static_cast<int16_t>(std::clamp<long>(v, -32767, 32767));
}

uint16_t bytes_word(int low, int high) {
  return static_cast<uint16_t>((low & 0xFF) | ((high & 0xFF) << 8));
}

struct Origin {
  uint16_t input = 0;
  int x = kOriginBaseX;
  int y = kOriginBaseY;
};

Origin origin_near(const CameraEye &c) {
  Origin o;
  if (!c.found) return o;
  const int cx = std::clamp(
      static_cast<int>(std::floor((c.pupil_x - kOriginLead - kOriginBaseX) / kOriginStepX)), 0,
      511);
  const int cy = std::clamp(
      static_cast<int>(std::floor((c.pupil_y - kOriginLead - kOriginBaseY) / kOriginStepY)), 0,
      127);
  o.input = static_cast<uint16_t>(cx | (cy << 9));
  o.x = cx * kOriginStepX + kOriginBaseX;
  o.y = cy * kOriginStepY + kOriginBaseY;
  return o;
}

void set_difference(raw_values &r) {
  const bool x = r.pupil_raw_x != kMissing && r.cr_raw_x != kMissing;
  const bool y = r.pupil_raw_y != kMissing && r.cr_raw_y != kMissing;
  r.pupil_cr_x = x ? r.pupil_raw_x - r.cr_raw_x : kMissing;
  r.pupil_cr_y = y ? r.pupil_raw_y - r.cr_raw_y : kMissing;
}

raw_values lost_eye(const Origin &o) {
  raw_values r{};
  r.pupil_raw_x = r.pupil_raw_y = r.cr_raw_x = r.cr_raw_y = kMissing;
  r.origin_x = o.x;
  r.origin_y = o.y;
  r.aux_point[0] = r.aux_point[1] = kMissing;
  return r;
}

void pack_direct(const CameraEye (&eyes)[2], build::SampleFields &w, raw_values (&raw)[2]) {
  const int e = (w.flags & SF_LEFT) != 0 ? 0 : 1;
  const CameraEye &c = eyes[e];
  const Origin o = origin_near(c);
  w.input = o.input;
  w.aux_type = kAuxDirect;
  w.aux.fill(0);
  raw_values r = lost_eye(o);
  if (c.found) {
    auto offset = [](double v, int from) { return clamp16(std::lround((v - from) / kDirectUnit)); };
    const int16_t words[4] = {offset(c.pupil_x, o.x), offset(c.pupil_y, o.y), offset(c.cr_x, o.x),
                              offset(c.cr_y, o.y)};
    for (size_t i = 0; i < 4; ++i) w.aux[i] = static_cast<uint16_t>(words[i]);
    w.aux[4] = static_cast<uint16_t>(c.pupil_area);
    w.aux[5] = static_cast<uint16_t>(c.cr_area);
    w.aux[6] = bytes_word(c.pupil_dim[0], c.pupil_dim[1]);
    w.aux[7] = bytes_word(c.cr_dim[0], c.cr_dim[1]);
    // What was packed: the centres on the 1/250-pixel grid from the origin.
    r.pupil_raw_x = static_cast<float>(o.x + words[0] * kDirectUnit);
    r.pupil_raw_y = static_cast<float>(o.y + words[1] * kDirectUnit);
    r.cr_raw_x = static_cast<float>(o.x + words[2] * kDirectUnit);
    r.cr_raw_y = static_cast<float>(o.y + words[3] * kDirectUnit);
    r.pupil_area = c.pupil_area;
    r.cr_area = c.cr_area;
    r.pupil_dim[0] = c.pupil_dim[0];
    r.pupil_dim[1] = c.pupil_dim[1];
    r.cr_dim[0] = c.cr_dim[0];
    r.cr_dim[1] = c.cr_dim[1];
  }
  set_difference(r);
  // Both eyes of the sample read the one set of words.
  for (int eye = 0; eye < 2; ++eye) {
    raw[eye] = (w.flags & (eye == 0 ? SF_LEFT : SF_RIGHT)) != 0 ? r : raw_values{};
  }
}

// A position as whole sixteenths (offset) and the last 4 bits of 1/256 pixel; `exact` is what
// they make.
struct Split {
  int16_t whole;
  int fraction;
  float exact;
};

Split split_position(double v) {
  const long q = std::lround((v + kFractionOffset) * 256.0);
  return {static_cast<int16_t>((q >> 4) - kWholeOffset), static_cast<int>(q & 15),
          static_cast<float>(static_cast<double>(q) / 256.0 - kFractionOffset)};
}

void pack_fraction(const CameraEye (&eyes)[2], build::SampleFields &w, raw_values (&raw)[2]) {
  const Origin o = origin_near(eyes[0].found ? eyes[0] : eyes[1]);
  w.input = o.input;
  w.aux_type = kAuxCodeBoth;
  w.aux.fill(0);
  w.res_x = 0;
  w.res_y = 0;
  for (int e = 0; e < 2; ++e) {
    const auto i = static_cast<size_t>(e);
    if ((w.flags & (e == 0 ? SF_LEFT : SF_RIGHT)) == 0) {
      raw[e] = raw_values{};
      continue;
    }
    const CameraEye &c = eyes[e];
    raw_values r = lost_eye(o);
    r.cr_dim[0] = r.cr_dim[1] = MISSING_VALUE;  // aux type 200 carries none
    if (!c.found) {
      w.pupil[i] = build::XY{};
      w.href[i] = build::XY{};
      w.gaze[i] = build::XY{};
      w.pupil_size[i] = 0x8000;
      set_difference(r);
      raw[e] = r;
      continue;
    }
    const Split px = split_position(c.pupil_x), py = split_position(c.pupil_y);
    const Split cx = split_position(c.cr_x), cy = split_position(c.cr_y);
    w.pupil[i] = build::XY{px.whole, py.whole};
    w.href[i] = build::XY{cx.whole, cy.whole};
    const int gx = (c.pupil_dim[1] << 8) | (px.fraction << 4) | py.fraction;
    const int gy = (c.pupil_dim[0] << 8) | (cx.fraction << 4) | cy.fraction;
    w.gaze[i] =
        build::XY{static_cast<int16_t>(gx - kWholeOffset), static_cast<int16_t>(gy - kWholeOffset)};
    // Read back as a negative size: the area less 32700.
    w.pupil_size[i] = static_cast<uint16_t>(c.pupil_area - kWholeOffset + 65536);
    (e == 0 ? w.res_x : w.res_y) = static_cast<int16_t>(c.cr_area);
    // The sticker: x to the nearest whole pixel and a signed fraction, y whole and fraction.
    const long qx = std::lround(c.target_x * 256.0);
    const long qy = std::lround(c.target_y * 256.0);
    const long xw = (qx + 128) >> 8, yw = qy >> 8;
    const auto xf = static_cast<int>(qx - xw * 256), yf = static_cast<int>(qy - yw * 256);
    const size_t k = 4 * i;
    w.aux[k] = static_cast<uint16_t>(static_cast<int16_t>(xw));
    w.aux[k + 1] = static_cast<uint16_t>(static_cast<int16_t>(yw));
    w.aux[k + 2] = bytes_word(yf, xf);
    w.aux[k + 3] = static_cast<uint16_t>(kTargetSeen);

    r.pupil_raw_x = px.exact;
    r.pupil_raw_y = py.exact;
    r.cr_raw_x = cx.exact;
    r.cr_raw_y = cy.exact;
    r.pupil_area = c.pupil_area;
    r.cr_area = c.cr_area;
    r.pupil_dim[0] = c.pupil_dim[0];
    r.pupil_dim[1] = c.pupil_dim[1];
    r.aux_code = kTargetSeen;
    r.aux_point[0] = static_cast<float>(static_cast<double>(xw) + xf / 256.0);
    r.aux_point[1] = static_cast<float>(static_cast<double>(yw) + yf / 256.0);
    set_difference(r);
    raw[e] = r;
  }
}

}  // namespace

CameraEye camera_eye(const EyeSample &e, int eye, double cx, double cy) {
  CameraEye c;
  if (!e.valid) return c;
  c.found = true;
  const double dx = e.gaze_x - cx;
  const double dy = e.gaze_y - cy;
  c.pupil_x = 640.0 + (eye == 0 ? -160.0 : 160.0) + 0.25 * dx;
  c.pupil_y = 500.0 + 0.25 * dy;
  // The reflection sits a little above the pupil's centre, inside its edge, and moves less.
  c.cr_x = c.pupil_x - 0.1 * dx + 5.0;
  c.cr_y = c.pupil_y - 0.1 * dy - 14.0;
  c.pupil_area = std::clamp(static_cast<int>(std::lround(e.pupil_size)), 1, 32000);
  const double diameter = 2.0 * std::sqrt(c.pupil_area / std::numbers::pi);
  c.pupil_dim[0] = std::clamp(static_cast<int>(std::lround(diameter * 1.05)), 1, 127);
  c.pupil_dim[1] = std::clamp(static_cast<int>(std::lround(diameter * 0.95)), 1, 127);
  c.cr_area = 38 + c.pupil_area % 9;
  c.cr_dim[0] = 7;
  c.cr_dim[1] = 8;
  c.target_x = 640.0 + 0.02 * dx;
  c.target_y = 180.0 + 0.02 * dy;
  return c;
}

void pack_raw_camera(RawPacking packing, const CameraEye (&eyes)[2], build::SampleFields &w,
                     raw_values (&raw)[2]) {
  switch (packing) {
    case RawPacking::kDirect:
      pack_direct(eyes, w, raw);
      break;
    case RawPacking::kFraction:
      pack_fraction(eyes, w, raw);
      break;
    case RawPacking::kNone:
      raw[0] = raw[1] = raw_values{};
      break;
  }
}

}  // namespace lvxsim
