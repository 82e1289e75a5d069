// The tracker's cameras as the display sees them during camera setup: synthetic images of an eye
// (iris, a dark pupil that follows the gaze, a bright corneal reflection, eyelids that close in a
// blink, mild noise) and of the head, with the palette information, marker points, thresholds
// and extended-information line that describe them; and the line compression and IMAGE_PKT
// segments that carry them. Pure: no sockets, no clocks (times are passed in).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace lvxsim {

// Camera codes.
inline constexpr uint8_t kCameraLeftEye = 1;
inline constexpr uint8_t kCameraHead = 2;
inline constexpr uint8_t kCameraRightEye = 3;

// Line compression. A line is a mode byte and codes: mode 0 raw pixels; mode 1 adds runs (a
// code 0xC0 | n, then the value repeated n times); mode 2 adds copies of n pixels from the line
// above (0x80 | n). Pixels that would read as codes travel as runs of one.
namespace imgcode {
inline constexpr uint8_t kRaw = 0, kRuns = 1, kRunsAndCopies = 2;
// The shortest encoding of a line (`above` is the previous line, null for the first), or the
// given mode when `mode` is 0, 1 or 2.
std::vector<uint8_t> encode_line(const uint8_t *pixels, int width, const uint8_t *above,
                                 int mode = -1);
// Every line of a width x height picture, one after another.
std::vector<uint8_t> encode_image(const std::vector<uint8_t> &pixels, int width, int height,
                                  int mode = -1);
// The IMAGE_PKT segments of one image: the first with the description and the 48-byte info
// block, then the rest of the stream in pieces of at most segment_bytes. Headers are left for
// the sender to fill (type byte set).
std::vector<std::vector<uint8_t>> segments(const std::vector<uint8_t> &stream,
                                           const std::array<uint8_t, 48> &info, int width,
                                           int height, int segment_bytes, uint8_t image_type = 0);
}  // namespace imgcode

// Palette indexes of the images: a grey ramp of 64 levels (index = level / 4), the pupil's and
// the corneal reflection's threshold colours after it.
inline constexpr uint8_t kPupilColour = 66;
inline constexpr uint8_t kCrColour = 76;
inline constexpr int kPaletteCount = 80;

// Where the eye looks and what the tracker's operator has set, for one picture.
struct CameraScene {
  uint8_t camera = kCameraLeftEye;
  double gaze_x = 512, gaze_y = 384;  // screen pixels
  int screen_width = 1024, screen_height = 768;
  double blink = 0;  // 0 open .. 1 closed
  int pupil_threshold = 88;
  int cr_threshold = 200;
  double search_x = 0.5, search_y = 0.5;  // search area centre, fractions of the image
  bool extended = false;                  // the last line of a head image carries information
  uint8_t palette_id = 1;
  uint32_t frame = 0;  // varies the noise
};

// One picture with what describes it.
struct CameraPicture {
  int width = 0, height = 0;
  std::vector<uint8_t> pixels;     // palette indexes, width x height
  std::array<uint8_t, 48> info{};  // PaletteInfo as sent (big-endian words)
  // Where the pupil and corneal reflection are, in image pixels (eye cameras: of the one eye;
  // head camera: of the first eye); found false while the eye is closed or outside the search
  // area.
  bool pupil_found = false;
  double pupil_x = 0, pupil_y = 0, cr_x = 0, cr_y = 0;
  double search_left = 0, search_top = 0, search_right = 0, search_bottom = 0;  // fractions
};

// Renders the camera's picture of `scene` at width x height.
CameraPicture render_camera(const CameraScene &scene, int width, int height);

// The calibration targets of a pattern of 3, 5, 9 or 13 points over a screen, centre first
// (any other count gives 9).
struct TargetPoint {
  float x, y;
};
std::vector<TargetPoint> calibration_targets(int points, int screen_width, int screen_height);

}  // namespace lvxsim
