// What a tracker set to send raw camera data puts into its samples: the pupil and corneal
// reflection (CR) of each eye as its camera sees them, packed into the ordinary sample fields.
// Pure.
//
// The camera picture follows the synthetic eye: the pupil moves across the camera image with the
// gaze, the CR (which stays nearly still on the cornea) moves less, so that pupil minus CR
// follows the gaze; the pupil area is the eye's pupil size. A forehead target sticker gives the
// auxiliary code and point.
//
// Two packings, as the display unpacks them:
//   direct: an origin on a grid of 4 x 8 pixels in the input word, and in the aux words (aux
//     type 8) the pupil and CR centres in 1/250 pixel from it, the areas and the dimensions. One
//     set of aux words: it carries the first tracked eye, and both eyes of the sample read it.
//     The pupil size field keeps the eye's real size (0 or more).
//   fraction: per eye, the centres in sixteenths of a pixel, offset by 32700, in the pupil (pupil)
//     and href (CR) fields, and their last 4 bits of 1/256 pixel in the gaze fields beside the
//     pupil's dimensions; the CR areas of the two eyes in the resolution fields; the pupil area
//     in the pupil size field as area - 32700 (below 0 marks the packing); each eye's code and
//     point in the aux words (aux type 200).
#pragma once

#include "lumavex_core.h"
#include "sim/data_items.h"
#include "sim/eye_model.h"

namespace lvxsim {

enum class RawPacking : uint8_t { kNone, kDirect, kFraction };

// One eye in the camera image, camera pixels.
struct CameraEye {
  bool found = false;  // false in a blink and for an eye that is not tracked
  double pupil_x = 0, pupil_y = 0, cr_x = 0, cr_y = 0;
  int pupil_area = 0, cr_area = 0;
  int pupil_dim[2] = {0, 0};  // width, height (each 1..127)
  int cr_dim[2] = {0, 0};
  double target_x = 0, target_y = 0;  // the forehead sticker
};

// The camera's view of one eye of a sample; (cx, cy) is the screen's centre.
CameraEye camera_eye(const EyeSample &e, int eye, double cx, double cy);

// Packs a sample's camera view into `w` (whose eye flags say which eyes are tracked; the input
// word, aux type and aux words are replaced) and returns what the display unpacks for each
// tracked eye in `raw` (pupil_cr_x and pupil_cr_y as the difference; the other eye all zero).
// The packed fields are wire integers, so the position prescaler plays no part.
void pack_raw_camera(RawPacking packing, const CameraEye (&eyes)[2], build::SampleFields &w,
                     raw_values (&raw)[2]);

}  // namespace lvxsim
