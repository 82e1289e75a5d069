// Href and gaze mapping: the projective transform between the head-referenced (href) plane and
// the display, through the href positions of the display's four corners that a sample carries
// (aux type 232); and angles and resolution on the href plane, which lies 15000 href units in
// front of the eye.
//
// The pure part works on 3 x 3 single-precision matrices (row-major, m0..m8) that take a row
// vector (x, y, w): the matrix from the unit square to four points, and its adjugate, which
// serves as the inverse (the division by w removes the scale between them). The process-wide
// part is the display rectangle's matrix, set by lumavex_initialize_mapping; the corners' matrix
// is worked out afresh from the sample at every conversion and kept nowhere.
#pragma once

#include <array>
#include <mutex>
#include <string_view>

#include "lumavex_core.h"

namespace lvx {

using Matrix3 = std::array<float, 9>;

struct Point2 {
  float x = 0;
  float y = 0;
};

// The corners in the order the mapping takes them: top-left, top-right, bottom-left,
// bottom-right, which the unit square's (0, 1), (1, 1), (0, 0) and (1, 0) go to.
using Corners = std::array<Point2, 4>;

// The matrix that takes the unit square to the corners. Corners in a line (no perspective to be
// had) give an affine matrix.
Matrix3 square_to_quad(const Corners &p);
Matrix3 adjugate(const Matrix3 &m);

// The corners a sample carries: aux_type 232 and no aux word 0x8000, the words as signed pairs.
bool sample_corners(const compact_float_sample &s, Corners &out);

// Takes (x, y, 1) through `first` and then `second`, the homogeneous coordinate carried through
// both, and writes x and y back after each step. 0; or -1 when the point goes to infinity (|w|
// not above 1e-8), with x and y left undivided.
int project(float &x, float &y, const Matrix3 &first, const Matrix3 &second);

// The angle in degrees between the directions to two href positions.
double href_angle(float x1, float y1, float x2, float y2);
// Href units per degree at an href position, across and down; either pointer may be null.
void href_resolution(float x, float y, float *xres, float *yres);

// The tracker's generation and software version as the mapping last read them.
struct TrackerSoftware {
  int generation = 0;
  int major = 0;
  int minor = 0;
};
// What the mapping keeps after reading a tracker's generation and version text: a generation
// below 2 leaves `stored` as it was. A text without a '.' in its version reads as 0.0.
TrackerSoftware read_tracker_software(int generation, std::string_view text,
                                      TrackerSoftware stored);
// The mapping needs the second generation or later and software 1.16 or later.
bool mapping_supported(const TrackerSoftware &s);

// The process-wide part (built on first use, never destroyed). Its lock guards every field.
struct MappingRecord {
  std::mutex lock;
  Matrix3 display{};          // unit square to the display rectangle
  Matrix3 display_inverse{};  // its adjugate
  bool ready = false;         // set once lumavex_initialize_mapping succeeded
  TrackerSoftware software;
};
MappingRecord &mapping_record();

// The exported functions' bodies.
int initialize_mapping(float left, float top, float right, float bottom);
int href_to_gaze(float *x, float *y, const compact_float_sample *sample);
int gaze_to_href(float *x, float *y, const compact_float_sample *sample);

}  // namespace lvx
