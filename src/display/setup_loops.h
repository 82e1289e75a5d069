// The blocking loops an experiment runs between trials: camera setup with calibration and
// validation, the target screen, the camera-image screen, and drift correction. They follow the
// tracker's mode, show what it needs through the graphic hooks and the camera view, and pass keys
// to the tracker. Application thread; exit_calibration (any thread) ends them at their next pass.
#pragma once

#include <cstdint>

namespace lvx {

// Sound codes the loops raise.
constexpr int kSoundTargetShown = 1;
constexpr int kSoundCalDone = 0;
constexpr int kSoundCalFailed = -1;
constexpr int kSoundDriftTarget = 3;
constexpr int kSoundDriftDone = 2;
constexpr int kSoundDriftFailed = -2;

// Results besides the tracker's: Escape, and the loop ended from outside.
constexpr int16_t kEscapeResult = 27;
constexpr int16_t kEndedResult = -1;

int16_t tracker_setup();
int16_t drift_correct(float x, float y, int16_t draw, int16_t allow_setup);
int16_t target_screen();
// The camera-image screen; with end_from_outside, exit_calibration and a terminal break end it
// too (setup passes it, having cleared the exit flag when it started).
int16_t camera_screen(bool end_from_outside);

// True when two target positions are the same to the hundredth of a pixel.
bool same_target_position(float x1, float y1, float x2, float y2);

}  // namespace lvx
