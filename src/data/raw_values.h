// Raw camera values that a tracker set to send raw camera data packs into the ordinary fields of
// its samples, unpacked again; and the correction of the pupil for the part of it that the
// corneal reflection (CR) hides. Pure: the position prescaler is passed in.
//
// Two packings, chosen per eye by the sign of the sample's pupil size:
//   direct (pupil size 0 or more): the positions are offsets in 1/250 pixel from an origin coded
//     in the input word, in the aux words, with the areas and dimensions beside them;
//   fraction (pupil size below 0): whole sixteenths of a pixel (offset by 32700) travel in the
//     pupil (pupil centre) and href (CR centre) fields, the last 4 bits of 1/256 pixel in the gaze
//     fields, the CR areas in the resolution fields and the pupil area in the pupil size.
#pragma once

#include <cstdint>

#include "lumavex_core.h"

namespace lvx {

// True when eye `eye` of the sample is packed directly (its pupil size is 0 or more).
bool raw_packed_directly(const compact_float_sample &s, int eye);

// Unpacks eye `eye` (0 or 1) into every field of `out` but reserved, pupil_cr_x and pupil_cr_y,
// with `prescaler` the divisor of the gaze and resolution fields (0 counts as 1).
void unpack_raw_values(const compact_float_sample &s, int eye, uint16_t prescaler, raw_values &out);

// pupil_cr_x and pupil_cr_y: pupil minus CR, missing when either is.
void set_pupil_minus_cr(raw_values &r);

// A pupil centre and area.
struct PupilFit {
  float x = 0;
  float y = 0;
  int32_t area = 0;
};

// The pupil of `r` corrected for the CR disc (its radius widened by `margin`) that hides part of
// it, in up to `passes` passes; unchanged when either area is below 1, a position is missing,
// `passes` is below 1 or the CR lies clear of the pupil.
PupilFit correct_pupil_overlap(const raw_values &r, float margin, int passes);

// The correction, then the CR centre scaled by (scale_x, scale_y) and the pupil centre moved by
// the corrected area times (gain_x, gain_y); a missing position stays missing.
void preprocess_raw(int passes, float margin, float scale_x, float scale_y, float gain_x,
                    float gain_y, const raw_values &in, corrected_raw &out);

// The older unpacking: only for samples whose eyes are both packed directly. The left eye, with
// pupil_cr from the corrected pupil minus 1.02 x the CR; aux_code and aux_point untouched. False
// (and `out` untouched) for any other sample.
bool unpack_raw_values_direct(const compact_float_sample &s, uint16_t prescaler, raw_values &out);

// The exported functions' bodies: the prescaler is the data stream's. -1 for a null pointer or an
// eye other than 0 and 1, else 0 (unpack_direct: -1 for a sample not packed directly, after a
// console line).
int16_t reconstruct_raw(const compact_float_sample *s, int eye, raw_values *out,
                        bool with_difference);
int16_t reconstruct_raw_direct(const compact_float_sample *s, raw_values *out);
int16_t reconstruct_and_preprocess_raw(const compact_float_sample *s, int eye, corrected_raw *out);

}  // namespace lvx
