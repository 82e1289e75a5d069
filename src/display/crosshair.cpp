#include "display/crosshair.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "control/commands.h"
#include "control/requests.h"
#include "hooks/graphic_hooks.h"
#include "link/clock.h"
#include "link/connection.h"
#include "link/link_state.h"

namespace lvx {

namespace {

constexpr int kUnits = 8192;  // marker coordinates are in 1/8192 of the image
constexpr int kMissing = kMissingMarker;
constexpr int kMouseCross = 5;
constexpr uint32_t kSearchLimitsWaitMs = 100;
constexpr uint16_t kRecordsStart = 4;  // first word of the first extended eye record
constexpr int kRecordWords = 29;
constexpr int kMaxRecords = 3;
constexpr int kNearDistance = 100, kFarDistance = 1000;  // mm
constexpr char kDegreeSign = static_cast<char>(176);
// Degrees to radians as the ellipse tables are built.
constexpr double kDegToRad = 0.017453277777777776;
constexpr int kEllipseTable = 410;

// The canvas and the callbacks, with a few shapes made of lines.
struct Painter {
  CrosshairCanvas &c;
  void line(int x1, int y1, int x2, int y2, int colour) const {
    c.draw_line(&c, x1, y1, x2, y2, colour);
  }
  void cross(int x, int y, int half_x, int half_y, int colour) const {
    line(x - half_x, y, x + half_x, y, colour);
    line(x, y - half_y, x, y + half_y, colour);
  }
  // Four arms from `inner` to `outer` away from (x, y): a cross with an open centre.
  void arms(int x, int y, int inner, int outer, int colour) const {
    line(x - outer, y, x - inner, y, colour);
    line(x + inner, y, x + outer, y, colour);
    line(x, y - outer, x, y - inner, colour);
    line(x, y + inner, x, y + outer, colour);
  }
  void full_lines(int x, int y, int colour) const {
    line(0, y, c.width, y, colour);
    line(x, 0, x, c.height, colour);
  }
  void rect(int x1, int y1, int x2, int y2, int colour) const {
    line(x1, y1, x2, y1, colour);
    line(x2, y1, x2, y2, colour);
    line(x2, y2, x1, y2, colour);
    line(x1, y2, x1, y1, colour);
  }
};

int scale(int value, int size) {
  return static_cast<int>(int64_t{value} * size / kUnits);
}

// Smooths a mark of `kind` at canvas position (x, y); returns the position to draw.
std::pair<int, int> smoothed(OverlaySmoothing &s, int kind, int x, int y) {
  auto k = static_cast<size_t>(kind);
  s.x[k] = smooth(s.x[k], x);
  s.y[k] = smooth(s.y[k], y);
  return {static_cast<int>(s.x[k]), static_cast<int>(s.y[k])};
}

// The mouse cross, and the click that moves the tracker's search area there.
void draw_mouse(CrosshairCanvas &c, const OverlayEnv &env) {
  if (c.get_mouse_state == nullptr) return;
  int32_t x = 0, y = 0, state = 0;
  c.get_mouse_state(&c, &x, &y, &state);
  if (x >= 0 && x <= c.width && y >= 0 && y <= c.height) {
    Painter{c}.cross(x, y, kMouseCross, kMouseCross, MOUSE_CURSOR_COLOR);
    if (state == 1 && c.last_mouse_state != 1 && c.width > 0 && c.height > 0 && env.command) {
      char text[64];
      std::snprintf(text, sizeof text, "setup_mode_global_click=%6.4f %6.4f",
                    static_cast<double>(x) / c.width, static_cast<double>(y) / c.height);
      env.command(text);
    }
  }
  c.last_mouse_state = state;
}

// The cosines and negated sines of the whole degrees 0..409.
struct EllipseTables {
  double cos_d[kEllipseTable];
  double nsin_d[kEllipseTable];
  EllipseTables() {
    for (int d = 0; d < kEllipseTable; ++d) {
      cos_d[d] = std::cos(d * kDegToRad);
      nsin_d[d] = -std::sin(d * kDegToRad);
    }
  }
};

const EllipseTables &ellipse_tables() {
  static const EllipseTables t;
  return t;
}

// A segment three lines thick, drawn from its end to its start; the lines sit side by side in x
// where the ellipse runs up and down (angle mod 180 below 45 or above 135), else in y.
void thick_segment(const Painter &p, int x0, int y0, int x1, int y1, int angle) {
  const int m = angle % 180;
  const bool shift_x = m < 45 || m > 135;
  for (int d = -1; d <= 1; ++d) {
    if (shift_x) {
      p.line(x1 + d, y1, x0 + d, y0, PUPIL_BOX_COLOR);
    } else {
      p.line(x1, y1 + d, x0, y0 + d, PUPIL_BOX_COLOR);
    }
  }
}

void draw_ellipse(const Painter &p, double cx, double cy, double rx, double ry, double phi) {
  const EllipseTables &t = ellipse_tables();
  rx = std::max(rx, 0.0);
  ry = std::max(ry, 0.0);
  const double r = (rx + ry) / 2;
  const int step = r < 1 ? 45 : std::max(1, static_cast<int>(std::ceil(45 / r)));
  const double sp = std::sin(phi * kDegToRad);
  const double cp = std::cos(phi * kDegToRad);
  auto point = [&](int theta) {
    const double c = t.cos_d[theta];
    const double ns = t.nsin_d[theta];
    const int x = static_cast<int>(std::floor(ry * ns * sp + rx * c * cp + cx + 0.5));
    const int y = static_cast<int>(std::floor(cy + 0.5 - rx * c * sp + ry * ns * cp));
    return std::pair<int, int>{x, y};
  };
  const int rotation = static_cast<int>(std::floor(phi + 0.5));
  const auto first = point(0);
  auto prev = first;
  int theta = 0;
  while (theta < 360) {
    const int next_theta = theta + step;  // at most 359 + 45, within the tables
    const auto next = point(next_theta);
    thick_segment(p, prev.first, prev.second, next.first, next.second,
                  rotation - step / 2 + next_theta);
    prev = next;
    theta = next_theta;
  }
  thick_segment(p, prev.first, prev.second, first.first, first.second, rotation);
}

// The extended-information line as words.
struct ExtLine {
  const KernelState &k;
  int word(int n) const {
    const auto i = static_cast<size_t>(2 * n);
    if (i + 1 >= k.ext_line.size()) return kMissing;
    return static_cast<int16_t>((k.ext_line[i] << 8) | k.ext_line[i + 1]);
  }
  uint16_t uword(int n) const { return static_cast<uint16_t>(word(n)); }
};

struct EyeRecord {
  int first;  // word of s0
  bool sticker(const ExtLine &e) const {
    return e.word(first + 2) == kMissing && e.word(first + 3) != kMissing;
  }
  int pupil_threshold(const ExtLine &e) const { return e.word(first + 21); }
  int cr_threshold(const ExtLine &e) const { return e.word(first + 22); }
  int distance(const ExtLine &e) const { return e.word(first + 8); }
};

std::string target_text(const ExtLine &e, const EyeRecord &r, uint16_t f) {
  char text[96];
  const int d = r.distance(e);
  const char *mark = lost_mark(f, LUMAVEX_PAL_LOST_TARGET);
  if (d > kNearDistance && d < kFarDistance) {
    std::snprintf(text, sizeof text, "%s T=%d %s   D=%d mm ", "TARGET", r.pupil_threshold(e), mark,
                  d);
  } else {
    std::snprintf(text, sizeof text, "%s T=%d %s   D=?? mm ", "TARGET", r.pupil_threshold(e), mark);
  }
  return text;
}

void draw_record(CrosshairCanvas &c, const ExtLine &e, const EyeRecord &r, int index, int box_style,
                 OverlaySmoothing &s, const OverlayEnv &env) {
  const Painter p{c};
  const int w = c.width, h = c.height;
  const int a = w / 6, b = a / 3;
  const int s0 = r.first;
  int box[4];
  bool box_present = true;
  for (int i = 0; i < 4; ++i) {
    box[i] = e.word(s0 + 17 + i);
    box_present = box_present && box[i] != kMissing;
  }
  if (box_present) {
    const int x1 = scale(box[0], w), y1 = scale(box[1], h), x2 = scale(box[2], w),
              y2 = scale(box[3], h);
    if (box_style != 0) {
      if (c.draw_box != nullptr) c.draw_box(&c, x1, y1, x2 - x1, y2 - y1, MOUSE_CURSOR_COLOR);
    } else {
      p.rect(x1, y1, x2, y2, SEARCH_LIMIT_BOX_COLOR);
    }
  }
  bool corners = true;
  int qx[4], qy[4];
  for (int i = 0; i < 4; ++i) {
    const int wx = e.word(s0 + 9 + 2 * i), wy = e.word(s0 + 10 + 2 * i);
    corners = corners && wx != kMissing && wy != kMissing;
    qx[i] = scale(e.uword(s0 + 9 + 2 * i), w);
    qy[i] = scale(e.uword(s0 + 10 + 2 * i), h);
  }
  if (corners) {
    p.line(qx[0], qy[0], qx[1], qy[1], PUPIL_BOX_COLOR);
    p.line(qx[1], qy[1], qx[3], qy[3], PUPIL_BOX_COLOR);
    p.line(qx[3], qy[3], qx[2], qy[2], PUPIL_BOX_COLOR);
    p.line(qx[2], qy[2], qx[0], qy[0], PUPIL_BOX_COLOR);
  }
  if (e.word(s0) != kMissing && e.word(s0 + 1) != kMissing) {
    auto [x, y] = smoothed(s, OverlaySmoothing::kRecordPupil0 + index, scale(e.word(s0), w),
                           scale(e.word(s0 + 1), h));
    p.cross(x, y, w / 8, h / 8, PUPIL_HAIR_COLOR);
  }
  if (e.word(s0 + 2) != kMissing && e.word(s0 + 3) != kMissing) {
    auto [x, y] = smoothed(s, OverlaySmoothing::kRecordCr0 + index, scale(e.word(s0 + 2), w),
                           scale(e.word(s0 + 3), h));
    p.arms(x, y, b / 2, a / 2, CR_HAIR_COLOR);
  }
  draw_mouse(c, env);
}

void send_title(const OverlayEnv &env, const std::string &text) {
  if (env.title) env.title(text.c_str());
}

// The scene-marker record: the head position and rotation in the title, and the outline of the
// marker when its four corners are present.
void draw_scene_record(CrosshairCanvas &c, const ExtLine &e, OverlaySmoothing &s,
                       const OverlayEnv &env) {
  std::string title = "Position:";
  char v[32];
  const char *axes[3] = {" X:", " Y:", " Z:"};
  for (int i = 0; i < 3; ++i) {
    title += axes[i];
    const int raw = e.word(10 + i);
    if (raw == kMissing) {
      title += "---";
    } else {
      std::snprintf(v, sizeof v, " %-6.1f", raw / 10.0);
      title += v;
    }
  }
  title += " Marker:";
  if (e.word(16) == kMissing) {
    title += "---";
  } else {
    std::snprintf(v, sizeof v, " %6.1f", e.word(16) * 0.1);
    title += v;
  }
  title += " (mm) Rotation:";
  const char *names[3] = {" P:", " Y:", " R:"};
  const int order[3] = {1, 0, 2};
  for (int i = 0; i < 3; ++i) {
    title += names[i];
    const int raw = e.word(13 + order[i]);
    if (raw == kMissing) {
      title += "---";
    } else {
      std::snprintf(v, sizeof v, " %-8.3f", raw / 100.0);
      title += v;
    }
  }
  std::snprintf(v, sizeof v, " (%c) ", kDegreeSign);
  title += v;
  send_title(env, title);

  int status = e.word(17);
  if (status == kMissing) status = 2;
  int px[4], py[4];
  for (int i = 0; i < 4; ++i) {
    const int wx = e.word(2 + 2 * i), wy = e.word(3 + 2 * i);
    if (wx == kMissing || wy == kMissing) return;
    auto [x, y] =
        smoothed(s, OverlaySmoothing::kCorner0 + i, scale(wx, c.width), scale(wy, c.height));
    px[i] = x;
    py[i] = y;
  }
  for (int i = 0; i < 4; ++i) {
    if (px[i] < -c.width || px[i] > 1200 || py[i] < -c.height || py[i] > 1200) return;
  }
  if (status > 1) return;
  const int colour = status <= 0 ? MARKER_COLOR : MARKER_COLOR_WEAK;
  const Painter p{c};
  for (int i = 0; i < 4; ++i) p.line(px[i], py[i], px[(i + 1) % 4], py[(i + 1) % 4], colour);
}

// The extended-information line; false when it cannot be drawn for this camera.
bool draw_ext_info(CrosshairCanvas &c, KernelState &k, OverlaySmoothing &s, const OverlayEnv &env) {
  const auto &ln = k.ext_line;
  if (ln[0] != 255 || ln[1] == 0 || ln[2] == 0 || ln[3] > 3) return false;
  const int kind = ln[3];
  const ExtLine e{k};
  if (kind == 3) {
    if (k.camera != LUMAVEX_CAMERA_SCENE) return false;
    draw_scene_record(c, e, s, env);
    return true;
  }
  k.title_source = TITLE_EXTENDED;
  if (k.camera != LUMAVEX_CAMERA_HEAD) return false;

  const int box_style = e.word(3);
  EyeRecord recs[kMaxRecords];
  int count = 0;
  while (count < kMaxRecords && kRecordsStart + kRecordWords * (count + 1) <= k.ext_width / 2) {
    recs[count] = EyeRecord{kRecordsStart + kRecordWords * count};
    ++count;
  }
  const int position = e.word(kRecordsStart + kRecordWords * count);
  if (position > 0 && position < 1000 && k.ext_width > 0) {
    const int x = static_cast<int>(int64_t{position} * c.width / k.ext_width);
    Painter{c}.line(x, 0, x, c.height, PUPIL_HAIR_COLOR);
  }
  const uint16_t f = k.title_flags;
  char title[256];
  // The three spacings the eye texts come in.
  enum Spacing { kSingle, kPair, kOther };
  auto eye_text = [&](const char *name, const EyeRecord &r, uint16_t pupil_bit, uint16_t cr_bit,
                      Spacing spacing) {
    char t[96];
    const int p = r.pupil_threshold(e), q = r.cr_threshold(e);
    const char *pm = lost_mark(f, pupil_bit), *qm = lost_mark(f, cr_bit);
    switch (spacing) {
      case kSingle:
        std::snprintf(t, sizeof t, "%s P=%d %s   CR=%d %s", name, p, pm, q, qm);
        break;
      case kPair:
        std::snprintf(t, sizeof t, "%s P=%d %s  CR=%d %s", name, p, pm, q, qm);
        break;
      case kOther:
        std::snprintf(t, sizeof t, "%s P=%d %s   CR=%d %s ", name, p, pm, q, qm);
        break;
    }
    return std::string(t);
  };
  if (kind == 0 || kind == 1) {
    const int i = kind;
    if (count <= i) return true;
    draw_record(c, e, recs[i], i, box_style, s, env);
    const std::string t =
        kind == 0 ? eye_text("LEFT", recs[0], LUMAVEX_PAL_LOST_PUPIL, LUMAVEX_PAL_LOST_CR, kSingle)
                  : eye_text("RIGHT", recs[1], LUMAVEX_PAL_LOST_PUPIL_RIGHT,
                             LUMAVEX_PAL_LOST_CR_RIGHT, kSingle);
    send_title(env, t);
    return true;
  }
  if (count < 2) return true;
  const bool sticker0 = recs[0].sticker(e), sticker1 = recs[1].sticker(e);
  draw_record(c, e, recs[0], 0, box_style, s, env);
  draw_record(c, e, recs[1], 1, box_style, s, env);
  if (!sticker0 && !sticker1) {
    std::string target;
    if (count > 2 && recs[2].sticker(e)) {
      draw_record(c, e, recs[2], 2, box_style, s, env);
      target = target_text(e, recs[2], f);
    }
    const std::string left =
        eye_text("LEFT", recs[0], LUMAVEX_PAL_LOST_TARGET, LUMAVEX_PAL_LOST_CR, kPair);
    const std::string right =
        eye_text("RIGHT", recs[1], LUMAVEX_PAL_LOST_PUPIL_RIGHT, LUMAVEX_PAL_LOST_CR_RIGHT, kPair);
    std::snprintf(title, sizeof title, "%s   %s  %s", left.c_str(), right.c_str(), target.c_str());
  } else {
    const EyeRecord &sticker = sticker0 ? recs[0] : recs[1];
    const std::string other =
        sticker0
            ? eye_text("RIGHT", recs[1], LUMAVEX_PAL_LOST_TARGET, LUMAVEX_PAL_LOST_CR_RIGHT, kOther)
            : eye_text("LEFT", recs[0], LUMAVEX_PAL_LOST_TARGET, LUMAVEX_PAL_LOST_CR, kOther);
    std::snprintf(title, sizeof title, "%s   %s", other.c_str(),
                  target_text(e, sticker, f).c_str());
  }
  send_title(env, title);
  return true;
}

bool present(const MarkerPoints &m, int i) {
  return m.x[i] != kMissing;
}

void draw_older(const Painter &p, const KernelState &k) {
  const MarkerPoints &m = k.markers;
  const int w = p.c.width, h = p.c.height;
  const int a = w / 6, b = a / 3;
  auto X = [&](int i) { return scale(m.x[i], w); };
  auto Y = [&](int i) { return scale(m.y[i], h); };
  if (k.camera == LUMAVEX_CAMERA_HEAD) {
    for (int i = 0; i < 4; ++i) {
      if (present(m, i)) p.cross(X(i), Y(i), a, a, CR_HAIR_COLOR);
    }
    return;
  }
  if (present(m, 0)) p.full_lines(X(0), Y(0), CR_HAIR_COLOR);
  if (present(m, 1)) p.arms(X(1), Y(1), b, a, CR_HAIR_COLOR);
  if (present(m, 2)) p.rect(X(2), Y(2), X(3), Y(3), CR_HAIR_COLOR);
}

void draw_newer(CrosshairCanvas &c, KernelState &k, OverlaySmoothing &s, const OverlayEnv &env) {
  const Painter p{c};
  const MarkerPoints &m = k.markers;
  const int w = c.width, h = c.height;
  const int a = w / 6, b = a / 3;
  auto X = [&](int i) { return scale(m.x[i], w); };
  auto Y = [&](int i) { return scale(m.y[i], h); };

  if (k.camera == LUMAVEX_CAMERA_SCENE) {
    p.line(0, h / 2, w, h / 2, PUPIL_HAIR_COLOR);
    const int half = static_cast<int>(h * 0.05);
    for (int i = 0; i < 3; ++i) {
      if (!present(m, i)) continue;
      auto [x, y] = smoothed(s, OverlaySmoothing::kScene, X(i), Y(i));
      p.cross(x, y, half, half, MARKER_COLOR);
    }
    draw_ext_info(c, k, s, env);
    return;
  }
  if (k.camera == LUMAVEX_CAMERA_HEAD) {
    if (env.gen4) p.line(0, h / 2, w, h / 2, PUPIL_HAIR_COLOR);
    if (draw_ext_info(c, k, s, env)) return;
    if (present(m, 0)) {
      auto [x, y] = smoothed(s, OverlaySmoothing::kHeadPupil, X(0), Y(0));
      p.full_lines(x, y, PUPIL_HAIR_COLOR);
    }
    if (present(m, 1)) {
      auto [x, y] = smoothed(s, OverlaySmoothing::kHeadCr, X(1), Y(1));
      p.cross(x, y, b, b, CR_HAIR_COLOR);
    }
    if (present(m, 2) || present(m, 3)) p.rect(X(2), Y(2), X(3), Y(3), PUPIL_BOX_COLOR);
    float limits[4];
    if (env.search_limits && env.search_limits(limits) == 0) {
      p.rect(static_cast<int>(limits[0] * static_cast<float>(w)),
             static_cast<int>(limits[1] * static_cast<float>(h)),
             static_cast<int>(limits[2] * static_cast<float>(w)),
             static_cast<int>(limits[3] * static_cast<float>(h)), SEARCH_LIMIT_BOX_COLOR);
    }
    draw_mouse(c, env);
    return;
  }
  // Eye cameras.
  if (present(m, 0)) {
    auto [x, y] = smoothed(s, OverlaySmoothing::kPupil, X(0), Y(0));
    p.full_lines(x, y, PUPIL_HAIR_COLOR);
  }
  if (present(m, 1)) {
    auto [x, y] = smoothed(s, OverlaySmoothing::kCr, X(1), Y(1));
    p.arms(x, y, b / 2, a / 2, CR_HAIR_COLOR);
  }
  if (!present(m, 2)) return;
  if (m.x[1] == kMissing && m.y[1] != kMissing) {
    // A target sticker instead of a corneal reflection: the distance replaces the thresholds.
    const size_t cam = static_cast<size_t>(std::clamp(k.camera, 0, 4));
    send_title(env, target_title(k.camera_threshold[cam], k.title_flags, m.y[1]));
    k.title_source = TITLE_TARGET;
    k.target_showing = true;
    return;
  }
  if (k.target_showing) {
    k.target_showing = false;
    k.title_source = TITLE_NORMAL;
    k.update_title(k.pupil_threshold, k.cr_threshold, k.camera, k.flags);
  }
  if (m.mode == 1) {
    auto [x3, y3] = smoothed(s, OverlaySmoothing::kBox3, X(2), Y(2));
    auto [x4, y4] = smoothed(s, OverlaySmoothing::kBox4, X(3), Y(3));
    p.rect(x3, y3, x4, y4, PUPIL_BOX_COLOR);
  } else if (m.mode == 2 && env.ellipse != 0 && present(m, 0)) {
    draw_ellipse(p, X(0), Y(0), scale(m.x[2], w), scale(m.x[3], w), -0.1 * m.y[2]);
  }
}

}  // namespace

double smooth(double s, int v) {
  if (s - 0.5 > v) return v + 0.5;
  if (s + 0.5 < v) return v - 0.5;
  return s;
}

OverlaySmoothing::OverlaySmoothing() {
  x.fill(0);
  y.fill(0);
  for (int k : {kScene, kHeadPupil, kHeadCr}) {
    x[static_cast<size_t>(k)] = kMissing;
    y[static_cast<size_t>(k)] = kMissing;
  }
}

void draw_overlay(CrosshairCanvas &canvas, KernelState &k, OverlaySmoothing &s,
                  const OverlayEnv &env) {
  if (canvas.draw_line == nullptr || k.markers.mode == 0) return;
  if (env.tracker_version < 3) {
    draw_older(Painter{canvas}, k);
  } else {
    draw_newer(canvas, k, s, env);
  }
}

int read_search_limits(float limits[4]) {
  if (connection_state() != 1) return 1;
  if (read_request("search_limits_drawbox") != 0) return -1;
  const uint32_t start = local_ms();
  char reply[200];
  while (local_ms() - start <= kSearchLimitsWaitMs) {
    if (read_reply(reply) == 0) {
      if (std::sscanf(reply, "%f%f%f%f", &limits[0], &limits[1], &limits[2], &limits[3]) == 4)
        return 0;
      return -1;
    }
  }
  return -1;
}

int draw_cross_hair(CrosshairCanvas *canvas) {
  if (canvas == nullptr) return 0;
  OverlayEnv env;
  env.tracker_version = tracker_version(nullptr);
  env.gen4 = link_record().is_gen4.load();
  env.ellipse = ellipse_flag();
  env.linked = connection_state() == 1;
  env.title = [](const char *t) { hook_camera_title(t); };
  env.search_limits = [](float l[4]) { return read_search_limits(l); };
  env.command = [](const char *text) { send_command_pieces(text); };
  draw_overlay(*canvas, kernel_state(), overlay_smoothing(), env);
  return 0;
}

}  // namespace lvx
