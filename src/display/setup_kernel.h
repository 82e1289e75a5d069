// The camera view's engine: one step of the request-receive cycle per iteration, the image size
// asked for, the time-outs, the palette and title renewals, and what the crosshair overlay needs
// (marker points, thresholds, the extended-information line).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "display/image_codec.h"
#include "lumavex_core.h"

namespace lvx {

// Bytes of the saved lines, and of the extended-information line that the overlay reads.
constexpr int kSavedLineBytes = 4096;
constexpr int kExtInfoBytes = 640;

// Time-outs of the view, in ms: the first segment (trackers with a level, and others), then the
// lines of an image after its first segment.
constexpr uint32_t kFirstSegmentWaitMs = 150;
constexpr uint32_t kFirstSegmentWaitOldMs = 250;
constexpr uint32_t kLinesWaitMs = 250;

// Where the title came from.
enum TitleSource : int { TITLE_NORMAL = 0, TITLE_EXTENDED = 1, TITLE_TARGET = 2 };

// The image size and kind requested by tracker level, extended info and whether the large image
// can be shown (a TCP-file-service tracker whose open hook returned 1).
struct ImageRequest {
  int16_t kind, width, height;
};
ImageRequest choose_image_request(int tracker_level, int extended, bool large);

// The tracker level (software version x 100, 0 before generation 2) and image-info level (2 for
// "RX" and "T..." models) from the tracker's generation and version text.
struct TrackerLevels {
  int tracker_level = 0;
  int image_info_level = 0;
};
TrackerLevels tracker_levels(int generation, const char *version_text);

// Camera names in titles by camera code ("" for others).
const char *camera_title_name(int camera);
// "???" when `bit` is set in flags, else "".
const char *lost_mark(uint16_t flags, uint16_t bit);
// The threshold title for pupil threshold p, CR threshold q (-1: none), camera k and flags f;
// empty for a camera other than 1, 2 and 3.
std::string threshold_title(int p, int q, int k, uint16_t f);
// The "TARGET" title for threshold t, the flags of the last threshold title and distance d (mm).
std::string target_title(int t, uint16_t last_flags, int d);

// The kernel's state. Application thread only (the kernel and the overlay run on the thread that
// runs the camera view), so no lock; tests build their own.
struct KernelState {
  bool initialised = false;
  int view_state = 1;  // 1 to be opened, 0 open, 2 open and the large image can be shown
  int last_open_result = 0;
  uint32_t request_time = 0;  // 0: no request outstanding
  uint32_t line_time = 0;     // 0: waiting for the first segment
  int16_t pause = 0;
  int tracker_level = 0;
  int image_info_level = 0;
  int extended = 0;  // 2 once the tracker sends extended information

  int width = 0, height = 0, type = 0;
  PaletteInfo info{};
  int pupil_threshold = 0, cr_threshold = -1, camera = 0;
  uint16_t flags = 0;
  int last_pupil = -1, last_cr = -1, last_camera = -1;
  uint16_t last_flags = 0;
  std::array<int, 5> camera_threshold{};  // per camera code (0..4)
  MarkerPoints markers;

  std::array<uint8_t, kSavedLineBytes> before_last{};
  std::array<uint8_t, kSavedLineBytes> ext_line{};
  int ext_width = 0;
  // The line being shown, and its expanded form for images of 4-bit pixels.
  std::array<uint8_t, kSavedLineBytes> line{};
  std::array<uint8_t, kSavedLineBytes> expanded_line{};

  int title_source = TITLE_NORMAL;
  bool target_showing = false;
  uint16_t title_flags = 0;  // flags the last threshold title was made with
  int title_pupil = -1;      // pupil threshold it was made with

  // Title renewal from the given values (sends the title through the camera-title hook).
  void update_title(int p, int q, int k, uint16_t f);
};

// The camera view's process-wide record: used only by the application thread that runs the view
// (the kernel and the overlay drawn from its hooks), so it has no lock.
KernelState &kernel_state();

int16_t kernel_init(int16_t extended);
int16_t kernel_iterate(int16_t command);
int16_t kernel_pause(int16_t value);
int kernel_xhair_data(int16_t *x, int16_t *y, int16_t *mode);

}  // namespace lvx
