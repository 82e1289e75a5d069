#include "display/setup_kernel.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "control/commands.h"
#include "display/camera_image.h"
#include "hooks/graphic_hooks.h"
#include "link/clock.h"
#include "link/connection.h"
#include "link/link_state.h"
#include "link/log.h"
#include "link/transport.h"

namespace lvx {

namespace {

constexpr uint32_t kCommandWaitMs = 1000;
constexpr int kLevelExtended = 120;  // above: kinds 4 and 5
constexpr int kLevelKind3 = 100;     // above (to 120): kind 3
constexpr int kCameraHead = LUMAVEX_CAMERA_HEAD;
constexpr int kCameraScene = LUMAVEX_CAMERA_SCENE;
constexpr int kDistanceMin = 100, kDistanceMax = 1000;  // a plausible target distance, mm

// A request time of 0 means "none": a request in the clock's first millisecond is stamped 1.
uint32_t stamp(uint32_t now) {
  return now == 0 ? 1 : now;
}

}  // namespace

ImageRequest choose_image_request(int tracker_level, int extended, bool large) {
  if (tracker_level > kLevelExtended) {
    if (extended != 0) {
      return large ? ImageRequest{5, 384, 320} : ImageRequest{5, 192, 160};
    }
    return {4, 192, 160};
  }
  if (tracker_level > kLevelKind3) return {3, 192, 160};
  return {1, 190, 120};
}

TrackerLevels tracker_levels(int generation, const char *version_text) {
  TrackerLevels l;
  if (generation < 2) return l;
  char model[41] = {};
  float version = 1.0f;
  if (version_text != nullptr) std::sscanf(version_text, "%*s %40s %f", model, &version);
  // Computed in float, as the version was read: 5.7 gives 570.
  const float scaled = version * 100.0f;
  l.tracker_level = version < 1.0f ? 100 : static_cast<int>(scaled);
  const bool rx = std::tolower(static_cast<unsigned char>(model[0])) == 'r' &&
                  std::tolower(static_cast<unsigned char>(model[1])) == 'x' && model[2] == '\0';
  l.image_info_level = (rx || model[0] == 'T') ? 2 : 0;
  return l;
}

const char *camera_title_name(int camera) {
  switch (camera) {
    case LUMAVEX_CAMERA_LEFT_EYE:
      return " LEFT  ";
    case LUMAVEX_CAMERA_HEAD:
      return " HEAD  ";
    case LUMAVEX_CAMERA_RIGHT_EYE:
      return " RIGHT ";
    default:
      return "";
  }
}

const char *lost_mark(uint16_t flags, uint16_t bit) {
  return (flags & bit) != 0 ? "???" : "";
}

std::string threshold_title(int p, int q, int k, uint16_t f) {
  if (k < LUMAVEX_CAMERA_LEFT_EYE || k > LUMAVEX_CAMERA_RIGHT_EYE) return {};
  const bool eye = k != kCameraHead;
  const char *pupil_mark = eye ? lost_mark(f, LUMAVEX_PAL_LOST_PUPIL) : "";
  const char *cr_mark = eye ? lost_mark(f, LUMAVEX_PAL_LOST_CR) : "";
  char text[160];
  if (q == -1) {
    std::snprintf(text, sizeof text, "Camera: %s   Threshold:%d %s", camera_title_name(k), p,
                  pupil_mark);
  } else {
    std::snprintf(text, sizeof text, "Camera: %s    Threshold:  P=%d %s   CR=%d %s",
                  camera_title_name(k), p, pupil_mark, q, cr_mark);
  }
  return text;
}

std::string target_title(int t, uint16_t last_flags, int d) {
  char text[96];
  const char *mark = lost_mark(last_flags, LUMAVEX_PAL_LOST_TARGET);
  if (d > kDistanceMin && d < kDistanceMax) {
    std::snprintf(text, sizeof text, "%s T=%d %s   D=%d mm ", "TARGET", t, mark, d);
  } else {
    std::snprintf(text, sizeof text, "%s T=%d %s   D=?? mm ", "TARGET", t, mark);
  }
  return text;
}

void KernelState::update_title(int p, int q, int k, uint16_t f) {
  if (k >= 0 && k < static_cast<int>(camera_threshold.size()))
    camera_threshold[static_cast<size_t>(k)] = p;
  if (markers.mode == 0) return;
  const bool target =
      k != kCameraHead && markers.x[1] == kMissingMarker && markers.y[1] != kMissingMarker;
  if (target) {
    const int t = camera >= 0 && camera < static_cast<int>(camera_threshold.size())
                      ? camera_threshold[static_cast<size_t>(camera)]
                      : 0;
    if (t < 1) return;
    hook_camera_title(target_title(t, title_flags, markers.y[1]).c_str());
    return;
  }
  if (p == -1) {
    console_printf("Threshold -1 ... \n");
    return;
  }
  if ((title_source == TITLE_EXTENDED || target_showing) && k == kCameraHead) {
    title_flags = f;
    title_pupil = p;
    return;
  }
  if (target_showing && title_pupil == -1) {
    title_pupil = p;
    return;
  }
  const std::string text = threshold_title(p, q, k, f);
  if (text.empty()) return;
  hook_camera_title(text.c_str());
  title_source = TITLE_NORMAL;
  title_flags = f;
  title_pupil = p;
}

int16_t kernel_init(int16_t extended) {
  KernelState &k = kernel_state();
  char text[41] = {};
  const int generation = tracker_version(text);
  const TrackerLevels levels = tracker_levels(generation, text);
  k.tracker_level = levels.tracker_level;
  k.image_info_level = levels.image_info_level;
  k.extended = k.tracker_level > kLevelExtended ? extended : 0;
  if (k.image_info_level > 1 && k.extended != 0) {
    timed_command(kCommandWaitMs, "lvrx_global_image_extinfo = 1");
    timed_command(kCommandWaitMs, "draw_link_crosshairs = 0");
    k.extended = 2;
  }
  k.last_pupil = k.last_cr = k.last_camera = -1;
  k.pause = 0;
  k.view_state = k.last_open_result != 0 ? 2 : 1;
  k.request_time = 0;
  k.line_time = 0;
  k.initialised = true;
  return 0;
}

namespace {

// Waiting for the first segment of the requested image: the palette, the view's opening, the
// thresholds and the title.
int16_t first_segment_step(KernelState &k, uint32_t now) {
  const uint32_t limit = k.tracker_level != 0 ? kFirstSegmentWaitMs : kFirstSegmentWaitOldMs;
  if (now - k.request_time > limit) {
    k.request_time = 0;
    return -2;
  }
  if (image_status() == 0) {
    wait_for_packet();
    return 0;
  }
  int16_t w = 0, h = 0, t = 0;
  if (image_data(&w, &h, &t) < 0) {
    k.request_time = 0;
    return -2;
  }
  k.width = w;
  k.height = h;
  k.type = t;
  const int16_t palette = image_palette(&k.info);
  bool built = false;
  if (k.view_state == 1) {
    k.view_state = 0;
    const int16_t opened = hook_open_camera_view(w, h);
    k.last_open_result = opened;
    if (opened < 0) {
      k.request_time = 0;
      return -100;
    }
    if (opened == 1) k.view_state = 2;
    built = true;
  } else {
    built = palette == 1;
  }
  if (built) {
    const CameraPalette p = build_palette(k.info);
    hook_camera_palette(p.count, p.red.data(), p.green.data(), p.blue.data());
  }
  k.cr_threshold = (k.info.flags & LUMAVEX_PAL_CR_THRESHOLD) != 0 ? k.info.cr_threshold : -1;
  k.pupil_threshold = k.info.pupil_threshold;
  k.camera = k.info.camera;
  k.flags = k.info.flags;
  k.markers = marker_points(k.info);
  if (built || k.pupil_threshold != k.last_pupil || k.cr_threshold != k.last_cr ||
      k.camera != k.last_camera || k.flags != k.last_flags) {
    k.last_pupil = k.pupil_threshold;
    k.last_cr = k.cr_threshold;
    k.last_camera = k.camera;
    k.last_flags = k.flags;
    k.update_title(k.pupil_threshold, k.cr_threshold, k.camera, k.flags);
  }
  k.line_time = stamp(now);
  return 0;
}

// Receiving the lines of the image: one line to the hooks per step.
int16_t line_step(KernelState &k, uint32_t now) {
  if (now - k.line_time > kLinesWaitMs) {
    k.request_time = 0;
    return -1;
  }
  uint8_t *line = k.line.data();
  uint8_t *expanded = k.expanded_line.data();
  int16_t n = image_line(line);
  if (n == 0) {
    wait_for_packet();
    n = image_line(line);
  }
  if (n < 0) {
    k.request_time = 0;
    return -1;
  }
  if (n == 0) return 0;
  // The hooks read `width` pixels from the line handed to them: never more than it holds.
  const int width = std::clamp(k.width, 0, kSavedLineBytes);
  if (k.type == image_pkt::kTypeNibbles) {
    expand_nibbles(line, width, expanded);
    hook_camera_line(width, n, k.height, expanded);
  } else {
    const bool ext_camera = k.camera == kCameraHead || k.camera == kCameraScene;
    if (k.extended == 2 && ext_camera) {
      // The last line of such an image carries information, not pixels: it is kept for the
      // overlay and the line above it is shown in its place.
      const size_t length = static_cast<size_t>(std::clamp(k.width, 0, kMaxImageLine));
      if (n == k.height - 1) std::memcpy(k.before_last.data(), line, length);
      if (n == k.height) {
        std::memcpy(k.ext_line.data(), line, kExtInfoBytes);
        k.ext_width = k.width;
        hook_camera_line(width, n, k.height, k.before_last.data());
      } else {
        hook_camera_line(width, n, k.height, line);
      }
    } else {
      hook_camera_line(width, n, k.height, line);
    }
  }
  if (n == k.height) k.request_time = 0;
  return 0;
}

}  // namespace

int16_t kernel_iterate(int16_t command) {
  KernelState &k = kernel_state();
  if (command == -1 || connection_state() == 0) {
    hook_close_camera_view();
    k.view_state = 1;
    k.initialised = false;
    k.last_open_result = 0;
    return 0;
  }
  if (!k.initialised) return -1000;
  if (command == 1) {
    if (connection_state() == 1) abort_image();
    k.request_time = 0;
    k.line_time = 0;
    return 0;
  }
  if (k.pause != 0) return 0;
  const uint32_t now = local_ms();
  if (k.request_time == 0) {
    if (connection_state() == 1) {
      const bool large = link_record().host_v5.load() && k.view_state == 2;
      const ImageRequest req = choose_image_request(k.tracker_level, k.extended, large);
      const int16_t r = request_image(req.kind, req.width, req.height);
      if (r != 0 && r != NO_REPLY) {
        console_printf("image_display_kernal_iterate cmderror %d \n", r);
        return -3;
      }
    }
    k.request_time = stamp(local_ms());
    k.line_time = 0;
    return 1;
  }
  if (k.line_time == 0) return first_segment_step(k, now);
  return line_step(k, now);
}

int16_t kernel_pause(int16_t value) {
  kernel_state().pause = value;
  if (value < 0) return kernel_iterate(1);
  return value;
}

int kernel_xhair_data(int16_t *x, int16_t *y, int16_t *mode) {
  const KernelState &k = kernel_state();
  if (x != nullptr && y != nullptr) {
    for (int i = 0; i < 4; ++i) {
      x[i] = k.markers.x[i];
      y[i] = k.markers.y[i];
    }
  }
  if (mode != nullptr) *mode = static_cast<int16_t>(k.markers.mode);
  return k.camera;
}

}  // namespace lvx
