// The overlay over the camera image: the pupil and corneal-reflection marks, the boxes the tracker
// searches in, the pupil ellipse, head-camera and scene-marker information from the extended
// information line, the mouse cross and the click that moves the tracker's search area.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "display/setup_kernel.h"
#include "lumavex_core.h"

namespace lvx {

// The smoothing of drawn marks: s moves to within half a unit of each new whole value v, so that
// a mark jittering by one pixel stands still.
double smooth(double s, int v);

// Smoothed positions, one pair per kind of mark, kept from call to call.
struct OverlaySmoothing {
  enum Kind {
    kPupil,  // eye-camera pupil crosshair
    kCr,     // eye-camera corneal-reflection mark
    kBox3,   // third and fourth points
    kBox4,
    kHeadPupil,  // head-camera crosshair and cross
    kHeadCr,
    kScene,    // the scene-marker crosses share one pair
    kCorner0,  // scene-marker outline corners
    kCorner1,
    kCorner2,
    kCorner3,
    kRecordPupil0,  // pupil and CR points of the three extended eye records
    kRecordPupil1,
    kRecordPupil2,
    kRecordCr0,
    kRecordCr1,
    kRecordCr2,
    kCount
  };
  std::array<double, kCount> x{}, y{};
  OverlaySmoothing();
};
// The smoothed positions of the process's overlay: application thread, like the kernel.
OverlaySmoothing &overlay_smoothing();

// What the overlay needs from outside the kernel.
struct OverlayEnv {
  int tracker_version = 0;
  bool gen4 = false;
  int ellipse = 0;     // the tracker sends pupil ellipses
  bool linked = true;  // connected: the search limits can be asked for
  std::function<void(const char *)> title;
  // 0 with the four fractions, 1 with no link, -1 on failure.
  std::function<int(float limits[4])> search_limits;
  std::function<void(const char *command)> command;
};

// Draws the overlay for the kernel's last image on `canvas` (nothing without draw_line or marker
// mode 0). May renew the title through env.title and the kernel's title update.
void draw_overlay(CrosshairCanvas &canvas, KernelState &k, OverlaySmoothing &s,
                  const OverlayEnv &env);

// The process-wide overlay on the process-wide kernel, with the library's services.
int draw_cross_hair(CrosshairCanvas *canvas);

// Asks the tracker for its search limits ("search_limits_drawbox") and reads the four fractions
// from its reply within 100 ms: 0 with them, 1 without a link, -1 on failure.
int read_search_limits(float limits[4]);

}  // namespace lvx
