// The setup display's pure rules: titles, image sizes by tracker, the smoothing of marks, and the
// crosshair overlay's geometry drawn onto a recording canvas.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "display/crosshair.h"
#include "display/setup_kernel.h"
#include "display/setup_loops.h"

namespace {

using lvx::KernelState;

TEST(SetupTitles, ThresholdAndTargetTexts) {
  const struct {
    int p, q, k;
    uint16_t f;
    const char *expect;
  } cases[] = {
      {88, 200, 1, 0, "Camera:  LEFT      Threshold:  P=88    CR=200 "},
      {88, -1, 3, 0x100, "Camera:  RIGHT    Threshold:88 ???"},
      {90, 210, 3, 0x300, "Camera:  RIGHT     Threshold:  P=90 ???   CR=210 ???"},
      {70, 180, 2, 0x300, "Camera:  HEAD      Threshold:  P=70    CR=180 "},  // no marks
      {70, 180, 4, 0, ""},
  };
  for (const auto &c : cases) EXPECT_EQ(lvx::threshold_title(c.p, c.q, c.k, c.f), c.expect);
  EXPECT_EQ(lvx::target_title(95, 0, 550), "TARGET T=95    D=550 mm ");
  EXPECT_EQ(lvx::target_title(95, 0x1000, 1000), "TARGET T=95 ???   D=?? mm ");
}

TEST(SetupKernel, ImageRequestsAndTrackerLevels) {
  const struct {
    int level, extended;
    bool large;
    lvx::ImageRequest expect;
  } cases[] = {
      {570, 2, true, {5, 384, 320}}, {570, 2, false, {5, 192, 160}}, {570, 0, true, {4, 192, 160}},
      {120, 2, true, {3, 192, 160}}, {100, 0, false, {1, 190, 120}}, {0, 0, false, {1, 190, 120}},
  };
  for (const auto &c : cases) {
    const auto r = lvx::choose_image_request(c.level, c.extended, c.large);
    EXPECT_EQ(r.kind, c.expect.kind) << c.level;
    EXPECT_EQ(r.width, c.expect.width) << c.level;
    EXPECT_EQ(r.height, c.expect.height) << c.level;
  }
  const struct {
    int generation;
    const char *text;
    int level, info;
  } levels[] = {
      {3, "LUMAVEX RX 5.7", 570, 2},  {4, "LUMAVEX TQ 1.2", 120, 2}, {3, "LUMAVEX rx 4.56", 456, 2},
      {2, "LUMAVEX KK 0.5", 100, 0},  {2, "LUMAVEX KK", 100, 0},     {1, "LUMAVEX K", 0, 0},
      {3, "LUMAVEX RX2 5.7", 570, 0},
  };
  for (const auto &c : levels) {
    const auto l = lvx::tracker_levels(c.generation, c.text);
    EXPECT_EQ(l.tracker_level, c.level) << c.text;
    EXPECT_EQ(l.image_info_level, c.info) << c.text;
  }
}

TEST(SetupLoops, SmoothingAndTargetPositions) {
  // Within half a unit the mark stands still; beyond, it follows to within half a unit.
  EXPECT_EQ(lvx::smooth(10.0, 10), 10.0);
  EXPECT_EQ(lvx::smooth(10.4, 10), 10.4);
  EXPECT_EQ(lvx::smooth(10.0, 11), 10.5);
  EXPECT_EQ(lvx::smooth(10.0, 8), 8.5);
  EXPECT_EQ(lvx::smooth(-32768.0, 100), 99.5);
  EXPECT_TRUE(lvx::same_target_position(512.0f, 384.0f, 512.005f, 384.0f));
  EXPECT_FALSE(lvx::same_target_position(512.0f, 384.0f, 512.02f, 384.0f));
}

struct Line {
  int x1, y1, x2, y2, colour;
  bool operator==(const Line &) const = default;
};

// A canvas that records what it is asked to draw.
struct Recorder {
  CrosshairCanvas canvas{};
  std::vector<Line> lines;
  std::vector<Line> boxes;
  int mouse_x = -1, mouse_y = -1, mouse_state = 0;
  std::vector<std::string> titles;
  std::vector<std::string> commands;
  lvx::OverlayEnv env;

  Recorder(int w, int h, int version) {
    canvas.user_data = this;
    canvas.width = w;
    canvas.height = h;
    canvas.draw_line = [](CrosshairCanvas *c, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                          int32_t colour) {
      static_cast<Recorder *>(c->user_data)->lines.push_back({x1, y1, x2, y2, colour});
    };
    canvas.draw_box = [](CrosshairCanvas *c, int32_t x, int32_t y, int32_t w2, int32_t h2,
                         int32_t colour) {
      static_cast<Recorder *>(c->user_data)->boxes.push_back({x, y, w2, h2, colour});
    };
    canvas.get_mouse_state = [](CrosshairCanvas *c, int32_t *x, int32_t *y, int32_t *state) {
      auto *r = static_cast<Recorder *>(c->user_data);
      *x = r->mouse_x;
      *y = r->mouse_y;
      *state = r->mouse_state;
    };
    env.tracker_version = version;
    env.title = [this](const char *t) { titles.emplace_back(t); };
    env.search_limits = [](float l[4]) {
      l[0] = 0.25f, l[1] = 0.25f, l[2] = 0.75f, l[3] = 0.75f;
      return 0;
    };
    env.command = [this](const char *t) { commands.emplace_back(t); };
  }
  int count(int colour) const {
    int n = 0;
    for (const Line &l : lines) n += l.colour == colour ? 1 : 0;
    return n;
  }
  bool has(const Line &l) const { return std::find(lines.begin(), lines.end(), l) != lines.end(); }
};

KernelState eye_kernel(int camera, int mode) {
  KernelState k;
  k.camera = camera;
  k.markers.mode = mode;
  // Pupil at (0.5, 0.5), CR at (0.25, 0.25), box from (0.125, 0.125) to (0.75, 0.75).
  const int16_t xs[4] = {4096, 2048, 1024, 6144}, ys[4] = {4096, 2048, 1024, 6144};
  for (int i = 0; i < 4; ++i) {
    k.markers.x[i] = xs[i];
    k.markers.y[i] = ys[i];
  }
  return k;
}

TEST(CrosshairOverlay, EyeCameraMarksOlderTrackersAndNothingWithoutMarkers) {
  // 600 x 480: a = 100, b = 33.
  {
    Recorder r(600, 480, 3);
    KernelState k = eye_kernel(1, 1);
    lvx::OverlaySmoothing s;
    s.x[lvx::OverlaySmoothing::kPupil] = 300;  // already on the mark: drawn exactly there
    s.y[lvx::OverlaySmoothing::kPupil] = 240;
    lvx::draw_overlay(r.canvas, k, s, r.env);
    EXPECT_TRUE(r.has({0, 240, 600, 240, PUPIL_HAIR_COLOR}));
    EXPECT_TRUE(r.has({300, 0, 300, 480, PUPIL_HAIR_COLOR}));
    // CR arms from b/2 = 16 to a/2 = 50, after smoothing from 0 to within half a pixel.
    EXPECT_EQ(r.count(CR_HAIR_COLOR), 4);
    EXPECT_TRUE(r.has({149 - 50, 119, 149 - 16, 119, CR_HAIR_COLOR}));
    EXPECT_EQ(r.count(PUPIL_BOX_COLOR), 4);  // the box of marker mode 1
    EXPECT_TRUE(r.commands.empty());
  }
  {
    Recorder r(600, 480, 2);  // version 2: the older drawing, all in colour 1
    KernelState k = eye_kernel(1, 1);
    lvx::OverlaySmoothing s;
    lvx::draw_overlay(r.canvas, k, s, r.env);
    EXPECT_EQ(r.count(CR_HAIR_COLOR), static_cast<int>(r.lines.size()));
    EXPECT_EQ(r.lines.size(), 2u + 4u + 4u);
    EXPECT_TRUE(r.has({150 - 100, 120, 150 - 33, 120, CR_HAIR_COLOR}));
  }
  for (int mode : {0, 1}) {
    Recorder r(600, 480, 3);
    KernelState k = eye_kernel(1, mode);
    if (mode == 1) r.canvas.draw_line = nullptr;
    lvx::OverlaySmoothing s;
    lvx::draw_overlay(r.canvas, k, s, r.env);
    EXPECT_TRUE(r.lines.empty());
  }
  {
    // A missing pupil x leaves the pupil undrawn while the rest is drawn.
    Recorder r(600, 480, 3);
    KernelState k = eye_kernel(1, 1);
    k.markers.x[0] = MISSING_VALUE;
    lvx::OverlaySmoothing s;
    lvx::draw_overlay(r.canvas, k, s, r.env);
    EXPECT_EQ(r.count(PUPIL_HAIR_COLOR), 0);
    EXPECT_EQ(r.count(CR_HAIR_COLOR), 4);
  }
}

TEST(CrosshairOverlay, TargetStickerTitleAndPupilEllipse) {
  Recorder r(600, 480, 3);
  KernelState k = eye_kernel(3, 1);
  k.camera_threshold[3] = 95;
  k.markers.x[1] = MISSING_VALUE;
  k.markers.y[1] = 620;
  lvx::OverlaySmoothing s;
  lvx::draw_overlay(r.canvas, k, s, r.env);
  ASSERT_EQ(r.titles.size(), 1u);
  EXPECT_EQ(r.titles[0], "TARGET T=95    D=620 mm ");
  EXPECT_TRUE(k.target_showing);
  EXPECT_EQ(k.title_source, lvx::TITLE_TARGET);

  // Marker mode 2 with ellipses on: a closed ring of thick segments in colour 3.
  Recorder e(600, 480, 3);
  e.env.ellipse = 1;
  KernelState k2 = eye_kernel(1, 2);
  k2.markers.x[2] = 410;  // rx = 30 px
  k2.markers.x[3] = 273;  // ry = 19 px
  k2.markers.y[2] = 0;
  lvx::draw_overlay(e.canvas, k2, s, e.env);
  const int n = e.count(PUPIL_BOX_COLOR);
  EXPECT_EQ(n % 3, 0);
  EXPECT_GE(n, 3 * 16);
  for (const Line &l : e.lines) {
    if (l.colour != PUPIL_BOX_COLOR) continue;
    EXPECT_LE(std::abs(l.x1 - 300), 32);
    EXPECT_LE(std::abs(l.y1 - 240), 21);
  }
}

std::array<uint8_t, lvx::kSavedLineBytes> ext_line_both_eyes() {
  std::array<uint8_t, lvx::kSavedLineBytes> line{};
  auto word = [&](int n, int v) {
    line[static_cast<size_t>(2 * n)] = static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8);
    line[static_cast<size_t>(2 * n + 1)] = static_cast<uint8_t>(v);
  };
  line[0] = 255, line[1] = 1, line[2] = 1, line[3] = 2;
  word(3, 0);
  for (int r = 0; r < 3; ++r) {
    const int s0 = 4 + 29 * r;
    for (int w = 0; w < 29; ++w) word(s0 + w, r == 2 ? MISSING_VALUE : 0);
    if (r == 2) continue;
    word(s0, 2048 + 4096 * r);  // pupil at x 0.25 / 0.75, y 0.5
    word(s0 + 1, 4096);
    word(s0 + 2, 2048 + 4096 * r);
    word(s0 + 3, 3072);
    for (int w = 4; w < 8; ++w) word(s0 + w, MISSING_VALUE);
    for (int c = 0; c < 4; ++c) {
      word(s0 + 9 + 2 * c, 1800 + 4096 * r + (c % 2) * 500);
      word(s0 + 10 + 2 * c, 3800 + (c / 2) * 500);
    }
    word(s0 + 17, 1000 + 4096 * r);
    word(s0 + 18, 3000);
    word(s0 + 19, 3000 + 4096 * r);
    word(s0 + 20, 5000);
    word(s0 + 21, 80 + r);
    word(s0 + 22, 200);
  }
  word(4 + 3 * 29, 0);
  return line;
}

TEST(CrosshairOverlay, HeadCameraExtendedInfoAndClicks) {
  Recorder r(640, 480, 3);
  KernelState k = eye_kernel(2, 1);
  k.ext_line = ext_line_both_eyes();
  k.ext_width = 192;
  k.title_flags = 0x200;
  lvx::OverlaySmoothing s;
  // A press at the centre, held over three calls: one click command.
  r.mouse_x = 320, r.mouse_y = 240, r.mouse_state = 1;
  for (int call = 0; call < 3; ++call) lvx::draw_overlay(r.canvas, k, s, r.env);
  ASSERT_EQ(r.commands.size(), 1u);
  EXPECT_EQ(r.commands[0], "setup_mode_global_click=0.5000 0.5000");
  EXPECT_EQ(r.canvas.last_mouse_state, 1);
  EXPECT_EQ(k.title_source, lvx::TITLE_EXTENDED);
  ASSERT_FALSE(r.titles.empty());
  EXPECT_EQ(r.titles.back(), "LEFT P=80   CR=200 ???   RIGHT P=81   CR=200   ");
  // Search boxes of style 0 in colour 4, pupil boxes in colour 3, the mouse cross in colour 5.
  EXPECT_TRUE(r.has({78, 175, 234, 175, SEARCH_LIMIT_BOX_COLOR}));
  EXPECT_EQ(r.count(PUPIL_BOX_COLOR), 3 * 8);
  EXPECT_GT(r.count(MOUSE_CURSOR_COLOR), 0);

  // A line whose first byte is not 255: the plain head-camera marks and the search limits.
  Recorder plain(640, 480, 3);
  k.ext_line[0] = 0;
  lvx::draw_overlay(plain.canvas, k, s, plain.env);
  EXPECT_TRUE(plain.has({160, 120, 480, 120, SEARCH_LIMIT_BOX_COLOR}));
  EXPECT_EQ(plain.count(PUPIL_HAIR_COLOR), 2);
}

TEST(CrosshairOverlay, SceneMarkerTitleAndOutline) {
  for (int status : {0, 1, 2}) {
    Recorder r(640, 480, 3);
    KernelState k = eye_kernel(4, 1);
    auto word = [&](int n, int v) {
      k.ext_line[static_cast<size_t>(2 * n)] = static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8);
      k.ext_line[static_cast<size_t>(2 * n + 1)] = static_cast<uint8_t>(v);
    };
    k.ext_line[0] = 255, k.ext_line[1] = 1, k.ext_line[2] = 1, k.ext_line[3] = 3;
    const int corners[8] = {1000, 1000, 7000, 1000, 7000, 7000, 1000, 7000};
    for (int i = 0; i < 8; ++i) word(2 + i, corners[i]);
    word(10, 123), word(11, -45), word(12, MISSING_VALUE);
    word(13, 150), word(14, -275), word(15, 0);
    word(16, 85), word(17, status);
    lvx::OverlaySmoothing s;
    lvx::draw_overlay(r.canvas, k, s, r.env);
    ASSERT_EQ(r.titles.size(), 1u);
    EXPECT_EQ(r.titles[0],
              "Position: X: 12.3   Y: -4.5   Z:--- Marker:    8.5 (mm) Rotation: P: "
              "-2.750   Y: 1.500    R: 0.000    (\xb0) ");
    const int outline = status == 0 ? r.count(MARKER_COLOR) - 3 * 2 : r.count(MARKER_COLOR_WEAK);
    EXPECT_EQ(outline, status <= 1 ? 4 : 0) << status;
  }
}

}  // namespace
