// The synthetic eye: a phase machine (fixation, saccade, blink) sampled at the tracker's rate.
#include "sim/eye_model.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <tuple>

namespace lvxsim {

namespace {

constexpr double kPupilCameraGain = 0.8;  // camera units per screen pixel
constexpr double kMargin = 40.0;          // saccade targets stay this far inside the screen
constexpr double kFixationNoiseDeg = 0.025;
constexpr double kSaccadeNoiseDeg = 0.05;
constexpr double kDriftDegPerS = 0.3;
// Following a pointer: a fixation lasts at least this long, and ends once the pointer is further
// away than this.
constexpr double kFollowMinFixationMs = 100.0;
constexpr double kFollowDistanceDeg = 1.0;

double radians(double deg) {
  return deg * std::numbers::pi / 180.0;
}

// Minimum-jerk position (0..1) and speed (per unit of normalised time) at tau in [0, 1].
double min_jerk(double tau) {
  return tau * tau * tau * (10.0 - 15.0 * tau + 6.0 * tau * tau);
}
double min_jerk_speed(double tau) {
  return 30.0 * tau * tau * (1.0 - tau) * (1.0 - tau);
}

}  // namespace

EyeModel::EyeModel(const EyeModelConfig &config) : config_(config), rng_(config.seed) {
  if (config_.rate_hz < 1) config_.rate_hz = 1;
  if (config_.screen_width < 200) config_.screen_width = 200;
  if (config_.screen_height < 200) config_.screen_height = 200;
  if (config_.pixels_per_degree <= 1.0) config_.pixels_per_degree = 36.0;
  geometry_.width = config_.screen_width;
  geometry_.height = config_.screen_height;
  geometry_.distance_px = config_.screen_distance_px > 1.0
                              ? config_.screen_distance_px
                              : distance_for_resolution(config_.pixels_per_degree);
  geometry_.tilt_deg = config_.screen_tilt_deg;
  vergence_x_ = 3.0 + 2.0 * uniform();
  vergence_y_ = -1.0 + 2.0 * uniform();
  pupil_level_[0] = 1100.0 + 200.0 * uniform();
  pupil_level_[1] = pupil_level_[0] * (0.95 + 0.1 * uniform());
  double interval = config_.mean_blink_interval_s * (0.5 + uniform());
  next_blink_ = samples_for_ms(interval * 1000.0);
  double w = config_.screen_width;
  double h = config_.screen_height;
  begin_fixation(w / 2 + (uniform() - 0.5) * w / 4, h / 2 + (uniform() - 0.5) * h / 4);
}

double EyeModel::uniform() {
  // 53 random bits: the same sequence on every standard library for a given seed.
  return static_cast<double>(rng_() >> 11) * (1.0 / 9007199254740992.0);
}

double EyeModel::normal() {
  double u1 = uniform();
  double u2 = uniform();
  if (u1 < 1e-300) u1 = 1e-300;
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
}

int64_t EyeModel::time_us_of(uint64_t index) const {
  auto i = static_cast<int64_t>(index);
  return config_.start_time_us + i * 1000000 / config_.rate_hz;
}

uint64_t EyeModel::samples_for_ms(double ms) const {
  double n = std::round(ms * config_.rate_hz / 1000.0);
  return n < 1.0 ? 1 : static_cast<uint64_t>(n);
}

void EyeModel::begin_fixation(double x, double y) {
  phase_ = Phase::kFixation;
  phase_start_ = index_;
  // Log-normal around 250 ms, kept to 150..400 ms.
  double ms = std::clamp(250.0 * std::exp(0.3 * normal()), 150.0, 400.0);
  phase_length_ = samples_for_ms(ms);
  fix_x_ = x;
  fix_y_ = y;
  double angle = 2.0 * std::numbers::pi * uniform();
  double per_sample = kDriftDegPerS * config_.pixels_per_degree / config_.rate_hz;
  drift_x_ = per_sample * std::cos(angle);
  drift_y_ = per_sample * std::sin(angle);
}

void EyeModel::begin_saccade() {
  phase_ = Phase::kSaccade;
  phase_start_ = index_;
  const double ppd = config_.pixels_per_degree;
  const double w = config_.screen_width;
  const double h = config_.screen_height;
  from_x_ = fix_x_ + drift_x_ * static_cast<double>(phase_length_);
  from_y_ = fix_y_ + drift_y_ * static_cast<double>(phase_length_);
  // Mostly short saccades, some long: amplitude 1.5..15 degrees, skewed low. A target off the
  // screen is drawn again a few times, then replaced by a point on the screen.
  const auto aim_point = aim();
  bool found = aim_point.has_value();
  if (found) {
    to_x_ = aim_point->first;
    to_y_ = aim_point->second;
  }
  for (int attempt = 0; attempt < 8 && !found; ++attempt) {
    double u = uniform();
    double amp = 1.5 + 13.5 * u * u;
    double angle = 2.0 * std::numbers::pi * uniform();
    to_x_ = from_x_ + amp * ppd * std::cos(angle);
    to_y_ = from_y_ + amp * ppd * std::sin(angle);
    found = to_x_ >= kMargin && to_x_ <= w - kMargin && to_y_ >= kMargin && to_y_ <= h - kMargin;
  }
  if (!found) {
    to_x_ = kMargin + (w - 2 * kMargin) * uniform();
    to_y_ = kMargin + (h - 2 * kMargin) * uniform();
  }
  amplitude_deg_ = std::hypot(to_x_ - from_x_, to_y_ - from_y_) / ppd;
  if (amplitude_deg_ < 0.5) {  // too short to be a saccade: push it out to 2 degrees
    double dx = w / 2 - from_x_;
    double dy = h / 2 - from_y_;
    double len = std::hypot(dx, dy);
    if (len < 1.0) {
      dx = 1.0;
      dy = 0.0;
      len = 1.0;
    }
    to_x_ = from_x_ + 2.0 * ppd * dx / len;
    to_y_ = from_y_ + 2.0 * ppd * dy / len;
    amplitude_deg_ = 2.0;
  }
  double ms = 2.2 * amplitude_deg_ + 21.0;
  phase_length_ = std::max<uint64_t>(2, samples_for_ms(ms));
  duration_s_ = static_cast<double>(phase_length_) / config_.rate_hz;
}

void EyeModel::begin_blink() {
  // The eye closes where the fixation that ends here left it.
  from_x_ = fix_x_ + drift_x_ * static_cast<double>(phase_length_);
  from_y_ = fix_y_ + drift_y_ * static_cast<double>(phase_length_);
  phase_ = Phase::kBlink;
  phase_start_ = index_;
  phase_length_ = samples_for_ms(100.0 + 100.0 * uniform());
}

double EyeModel::drift_pupil(int eye) {
  // A slow mean-reverting wander of the pupil area around its level.
  double base = eye == 0 ? 1200.0 : 1180.0;
  pupil_level_[eye] += 0.002 * (base - pupil_level_[eye]) + 0.8 * normal();
  return std::clamp(pupil_level_[eye], 600.0, 2000.0);
}

void EyeModel::fill_eye(int eye, double true_x, double true_y, double noise_px, ModelSample &s) {
  EyeSample &e = s.eye[eye];
  double size = drift_pupil(eye);
  if (!tracks(config_.eyes, eye)) return;
  if (phase_ == Phase::kBlink) return;  // pupil lost: nothing valid
  double x = true_x + noise_px * normal();
  double y = true_y + noise_px * normal();
  if (eye == 1) {
    x += vergence_x_;
    y += vergence_y_;
  }
  const double cx = config_.screen_width / 2.0;
  const double cy = config_.screen_height / 2.0;
  e.valid = true;
  e.gaze_x = x;
  e.gaze_y = y;
  std::tie(e.href_x, e.href_y) = href_of_pixel(geometry_, x, y);
  e.pupil_x = (eye == 0 ? -1500.0 : 1500.0) + kPupilCameraGain * (x - cx);
  e.pupil_y = -200.0 + kPupilCameraGain * (y - cy);
  e.pupil_size = size;
}

ModelStep EyeModel::next() {
  ModelStep step;
  ModelSample &s = step.sample;
  s.index = index_;
  s.time_us = time_us_of(index_);
  int64_t ms = s.time_us / 1000;
  if (s.time_us % 1000 < 0) --ms;
  s.time_ms = static_cast<uint32_t>(static_cast<uint64_t>(ms));
  s.phase = phase_;

  const double ppd = config_.pixels_per_degree;
  const uint64_t j = index_ - phase_start_;  // position within the phase
  double true_x = 0;
  double true_y = 0;
  double speed_x = 0;  // pixels per second
  double speed_y = 0;
  double noise_deg = kFixationNoiseDeg;
  switch (phase_) {
    case Phase::kFixation:
      true_x = fix_x_ + drift_x_ * static_cast<double>(j);
      true_y = fix_y_ + drift_y_ * static_cast<double>(j);
      speed_x = drift_x_ * config_.rate_hz;
      speed_y = drift_y_ * config_.rate_hz;
      // A pointer that moved away ends the fixation with this sample.
      if (!target_ && pointer_ && j + 1 >= samples_for_ms(kFollowMinFixationMs) &&
          std::hypot(pointer_->first - true_x, pointer_->second - true_y) >
              kFollowDistanceDeg * ppd) {
        phase_length_ = j + 1;
      }
      break;
    case Phase::kSaccade: {
      double tau = static_cast<double>(j + 1) / static_cast<double>(phase_length_);
      double p = min_jerk(tau);
      true_x = from_x_ + (to_x_ - from_x_) * p;
      true_y = from_y_ + (to_y_ - from_y_) * p;
      speed_x = (to_x_ - from_x_) / duration_s_ * min_jerk_speed(tau);
      speed_y = (to_y_ - from_y_) / duration_s_ * min_jerk_speed(tau);
      noise_deg = kSaccadeNoiseDeg;
      break;
    }
    case Phase::kBlink:
      true_x = from_x_;
      true_y = from_y_;
      break;
  }
  const auto [true_res_x, true_res_y] = resolution_at(true_x, true_y);
  s.velocity = std::hypot(speed_x / true_res_x, speed_y / true_res_y);
  for (int eye = 0; eye < 2; ++eye) fill_eye(eye, true_x, true_y, noise_deg * ppd, s);

  // Resolution grows away from the centre of a flat screen (the same visual angle covers more
  // pixels); taken at the tracked eye's gaze, the centre when the pupil is lost.
  double gx = config_.screen_width / 2.0;
  double gy = config_.screen_height / 2.0;
  for (int eye = 0; eye < 2; ++eye) {
    if (s.eye[eye].valid) {
      gx = s.eye[eye].gaze_x;
      gy = s.eye[eye].gaze_y;
      break;
    }
  }
  std::tie(s.res_x, s.res_y) = resolution_at(gx, gy);

  // Start events with the phase's first sample.
  if (j == 0) {
    phase_start_ms_ = s.time_ms;
    for (int eye = 0; eye < 2; ++eye) {
      if (!tracks(config_.eyes, eye)) continue;
      Summary &sum = summary_[eye];
      sum = Summary{};
      sum.first = s.eye[eye];
      sum.first_res_x = s.res_x;
      sum.first_res_y = s.res_y;
      sum.first_velocity = s.velocity;
      uint8_t type = phase_ == Phase::kFixation ? 5 : phase_ == Phase::kSaccade ? 3 : 1;
      step.events.push_back(summary_event(type, eye, sum, s));
    }
  }
  for (int eye = 0; eye < 2; ++eye) {
    if (!tracks(config_.eyes, eye)) continue;
    Summary &sum = summary_[eye];
    const EyeSample &e = s.eye[eye];
    sum.last = e;
    sum.last_res_x = s.res_x;
    sum.last_res_y = s.res_y;
    sum.last_velocity = s.velocity;
    sum.sum_velocity += s.velocity;
    sum.peak_velocity = std::max(sum.peak_velocity, s.velocity);
    sum.sum_x += e.gaze_x;
    sum.sum_y += e.gaze_y;
    sum.sum_hx += e.href_x;
    sum.sum_hy += e.href_y;
    sum.sum_pupil += e.pupil_size;
    ++sum.count;
  }

  ++index_;
  if (j + 1 < phase_length_) return step;

  // The phase ends with this sample: its end events, then the next phase. The start events of
  // the next phase come with the next sample.
  for (int eye = 0; eye < 2; ++eye) {
    if (!tracks(config_.eyes, eye)) continue;
    uint8_t type = phase_ == Phase::kFixation ? 6 : phase_ == Phase::kSaccade ? 4 : 2;
    step.events.push_back(summary_event(type, eye, summary_[eye], s));
  }
  switch (phase_) {
    case Phase::kFixation:
      if (index_ >= next_blink_) {
        begin_blink();
      } else if (target_ &&
                 std::hypot(fix_x_ - target_->first, fix_y_ - target_->second) < 0.5 * ppd) {
        begin_fixation(target_->first, target_->second);  // already there: stay
      } else if (!target_ && pointer_ &&
                 std::hypot(true_x - pointer_->first, true_y - pointer_->second) < 0.5 * ppd) {
        begin_fixation(true_x, true_y);  // at the pointer already: the eye stays where it is
      } else {
        begin_saccade();
      }
      break;
    case Phase::kSaccade:
      begin_fixation(to_x_, to_y_);
      break;
    case Phase::kBlink: {
      double interval = config_.mean_blink_interval_s * (0.5 + uniform());
      next_blink_ = index_ + samples_for_ms(interval * 1000.0);
      // The eye comes back where it was, give or take a quarter of a degree.
      begin_fixation(from_x_ + 0.25 * ppd * (uniform() - 0.5),
                     from_y_ + 0.25 * ppd * (uniform() - 0.5));
      break;
    }
  }
  return step;
}

std::pair<double, double> EyeModel::resolution_at(double x, double y) const {
  const double ppd = config_.pixels_per_degree;
  const double ax = radians((x - config_.screen_width / 2.0) / ppd);
  const double ay = radians((y - config_.screen_height / 2.0) / ppd);
  return {ppd / (std::cos(ax) * std::cos(ax)), ppd / (std::cos(ay) * std::cos(ay))};
}

ModelEvent EyeModel::summary_event(uint8_t type, int eye, const Summary &sum,
                                   const ModelSample &last) {
  ModelEvent ev;
  ev.type = type;
  ev.eye = eye;
  ev.start_ms = phase_start_ms_;
  ev.start_index = phase_start_;
  bool start_event = type == 1 || type == 3 || type == 5;
  ev.end_ms = start_event ? phase_start_ms_ : last.time_ms;
  ev.end_index = start_event ? phase_start_ : last.index;
  const EyeSample &a = sum.first;
  const EyeSample &b = start_event ? sum.first : sum.last;
  ev.start_x = a.gaze_x;
  ev.start_y = a.gaze_y;
  ev.end_x = b.gaze_x;
  ev.end_y = b.gaze_y;
  ev.start_href_x = a.href_x;
  ev.start_href_y = a.href_y;
  ev.end_href_x = b.href_x;
  ev.end_href_y = b.href_y;
  ev.start_pupil = a.pupil_size;
  ev.end_pupil = b.pupil_size;
  ev.start_res_x = sum.first_res_x;
  ev.start_res_y = sum.first_res_y;
  ev.end_res_x = start_event ? sum.first_res_x : sum.last_res_x;
  ev.end_res_y = start_event ? sum.first_res_y : sum.last_res_y;
  ev.start_velocity = sum.first_velocity;
  ev.end_velocity = start_event ? sum.first_velocity : sum.last_velocity;
  double n = start_event || sum.count == 0 ? 1.0 : static_cast<double>(sum.count);
  if (start_event) {
    ev.avg_x = a.gaze_x;
    ev.avg_y = a.gaze_y;
    ev.avg_href_x = a.href_x;
    ev.avg_href_y = a.href_y;
    ev.avg_pupil = a.pupil_size;
    ev.avg_velocity = sum.first_velocity;
    ev.peak_velocity = sum.first_velocity;
  } else {
    ev.avg_x = sum.sum_x / n;
    ev.avg_y = sum.sum_y / n;
    ev.avg_href_x = sum.sum_hx / n;
    ev.avg_href_y = sum.sum_hy / n;
    ev.avg_pupil = sum.sum_pupil / n;
    ev.avg_velocity = sum.sum_velocity / n;
    ev.peak_velocity = sum.peak_velocity;
  }
  if (type == 4) {
    ev.amplitude_deg =
        std::hypot(ev.end_x - ev.start_x, ev.end_y - ev.start_y) / config_.pixels_per_degree;
  }
  return ev;
}

}  // namespace lvxsim
