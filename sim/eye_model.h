// A synthetic eye: per-sample gaze, head-referenced position, camera pupil position and pupil
// size for one or both eyes, moving through fixations, saccades and blinks, and the parsed events
// those phases imply. Pure and deterministic: the same configuration and seed give the same
// samples and events, one call of next() per sample.
//
// Fixations last 150..400 ms (log-normal around 250 ms) with slow drift and about a pixel of
// noise. Saccades follow the main sequence (duration 2.2 ms/deg x amplitude + 21 ms) along a
// minimum-jerk path, so a 10-degree saccade lasts about 43 ms and peaks near 430 deg/s. Blinks
// (100..200 ms, pupil lost: size 0, positions missing) come every few seconds, between a
// fixation and the next. Both eyes share the phases; the right eye looks a few pixels to the
// side of the left and has its own noise. Href positions are where the gaze point lies on the
// href plane, given where the screen is (sim/screen_geometry.h); velocities are in degrees at the
// resolution the samples report.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <utility>
#include <vector>

#include "sim/screen_geometry.h"

namespace lvxsim {

enum class Eyes : uint8_t { kLeft = 1, kRight = 2, kBoth = 3 };

inline bool tracks(Eyes eyes, int eye) {
  return (static_cast<int>(eyes) & (1 << eye)) != 0;
}

struct EyeModelConfig {
  int rate_hz = 1000;  // samples per second (250, 500, 1000 and 2000 are the tracker's)
  Eyes eyes = Eyes::kBoth;
  uint64_t seed = 1;
  int screen_width = 1024;
  int screen_height = 768;
  double pixels_per_degree = 36.0;  // at the screen centre
  // Eye to screen centre in pixels (0: what gives pixels_per_degree), and the screen's tilt
  // (sim/screen_geometry.h): where the href positions lie.
  double screen_distance_px = 0;
  double screen_tilt_deg = 0;
  int64_t start_time_us = 0;           // tracker time of the first sample
  double mean_blink_interval_s = 4.0;  // blinks come every 0.5x..1.5x this
};

enum class Phase : uint8_t { kFixation, kSaccade, kBlink };

// One eye at one sample.
struct EyeSample {
  bool valid = false;               // false in a blink and for an eye that is not tracked
  double gaze_x = 0, gaze_y = 0;    // screen pixels
  double href_x = 0, href_y = 0;    // the gaze point on the href plane
  double pupil_x = 0, pupil_y = 0;  // camera units
  double pupil_size = 0;            // area units; 0 in a blink
};

struct ModelSample {
  uint64_t index = 0;
  int64_t time_us = 0;   // start_time_us + index / rate
  uint32_t time_ms = 0;  // time_us in whole ms (what the tracker stamps)
  Phase phase = Phase::kFixation;
  EyeSample eye[2];  // [0] left, [1] right
  double res_x = 0;  // pixels per degree at the gaze position
  double res_y = 0;
  // Speed of the noise-free path in deg/s: its x and y pixel speeds, each over the resolution
  // at the path's position, combined.
  double velocity = 0;
};

// A parsed event of one eye. Start events (STARTFIX, STARTSACC, STARTBLINK) carry the values of
// the phase's first sample in both start and end; end events summarise the whole phase.
struct ModelEvent {
  uint8_t type = 0;  // 1 STARTBLINK, 2 ENDBLINK, 3 STARTSACC, 4 ENDSACC, 5 STARTFIX, 6 ENDFIX
  int eye = 0;
  uint32_t start_ms = 0;  // time of the phase's first sample
  uint32_t end_ms = 0;    // time of its last sample (start events: the first)
  uint64_t start_index = 0;
  uint64_t end_index = 0;
  double start_x = 0, start_y = 0, end_x = 0, end_y = 0, avg_x = 0, avg_y = 0;  // gaze pixels
  double start_href_x = 0, start_href_y = 0, end_href_x = 0, end_href_y = 0;
  double avg_href_x = 0, avg_href_y = 0;
  double start_pupil = 0, end_pupil = 0, avg_pupil = 0;
  double start_velocity = 0, end_velocity = 0, avg_velocity = 0, peak_velocity = 0;  // deg/s
  double start_res_x = 0, start_res_y = 0, end_res_x = 0, end_res_y = 0;
  double amplitude_deg = 0;  // saccades: distance between start and end
};

struct ModelStep {
  ModelSample sample;
  std::vector<ModelEvent> events;  // end events of the phase this sample closes come first
};

class EyeModel {
 public:
  explicit EyeModel(const EyeModelConfig &config);

  // The next sample and the events that belong to it: start events with a phase's first sample,
  // end events with its last.
  ModelStep next();

  const EyeModelConfig &config() const { return config_; }
  const ScreenGeometry &geometry() const { return geometry_; }
  uint64_t samples_produced() const { return index_; }

  // Tracker time of sample `index` in microseconds.
  int64_t time_us_of(uint64_t index) const;

  // A point the eye is to look at (screen pixels), as at a calibration target: the next saccade
  // goes there and the fixations after it stay there (blinks still come); nullopt lets the eye
  // wander again.
  void look_at(std::optional<std::pair<double, double>> target) { target_ = target; }
  // A pointer the eye follows, as it follows a hand or a mouse cursor (screen pixels): saccades
  // go to it, and a fixation ends early, once it has lasted 100 ms, when the pointer is more than
  // a degree away. A look_at target comes first; nullopt stops following.
  void follow(std::optional<std::pair<double, double>> pointer) { pointer_ = pointer; }

 private:
  struct Summary {  // running values of one eye over the current phase
    EyeSample first;
    EyeSample last;
    double first_res_x = 0, first_res_y = 0, last_res_x = 0, last_res_y = 0;
    double sum_x = 0, sum_y = 0, sum_hx = 0, sum_hy = 0, sum_pupil = 0;
    double first_velocity = 0, last_velocity = 0, sum_velocity = 0, peak_velocity = 0;
    uint64_t count = 0;
  };

  double uniform();  // [0, 1)
  double normal();   // mean 0, deviation 1
  uint64_t samples_for_ms(double ms) const;
  // Where the next saccade goes: the target, else the pointer, else nowhere in particular.
  std::optional<std::pair<double, double>> aim() const { return target_ ? target_ : pointer_; }
  void begin_fixation(double x, double y);
  void begin_saccade();
  void begin_blink();
  void fill_eye(int eye, double true_x, double true_y, double noise_px, ModelSample &s);
  ModelEvent summary_event(uint8_t type, int eye, const Summary &sum, const ModelSample &last);
  double drift_pupil(int eye);

  // Pixels per degree at a point, across and down: more away from the centre of a flat screen.
  std::pair<double, double> resolution_at(double x, double y) const;

  EyeModelConfig config_;
  ScreenGeometry geometry_;
  std::mt19937_64 rng_;
  uint64_t index_ = 0;

  Phase phase_ = Phase::kFixation;
  uint64_t phase_start_ = 0;   // index of the phase's first sample
  uint64_t phase_length_ = 0;  // samples in the phase
  uint32_t phase_start_ms_ = 0;
  // Fixation: where the eye rests and how it drifts (pixels, pixels per sample).
  double fix_x_ = 0, fix_y_ = 0, drift_x_ = 0, drift_y_ = 0;
  // Saccade: from, to, amplitude and duration.
  double from_x_ = 0, from_y_ = 0, to_x_ = 0, to_y_ = 0, amplitude_deg_ = 0, duration_s_ = 0;
  // Blinks: the index at which the next one is due.
  uint64_t next_blink_ = 0;
  double pupil_level_[2] = {0, 0};
  double vergence_x_ = 0, vergence_y_ = 0;
  Summary summary_[2];
  std::optional<std::pair<double, double>> target_;
  std::optional<std::pair<double, double>> pointer_;
};

}  // namespace lvxsim
