// lumavex_canvas: a reference display for lumavex_core. It implements every graphic hook of the
// version-2 table onto an RGBA framebuffer in memory: the calibration and drift-correction
// targets, the camera image scaled into its area with the crosshair overlay drawn through
// lumavex_draw_cross_hair, the title in a small bitmap font, and sounds and alerts as records.
// Keys and mouse clicks come from a script (or a window front-end) through the same queue the
// input hook drains. Snapshots are written as PNG files by lumavex_canvas_png.h (a library of its
// own, the only part that needs libpng).
//
// It knows no window system: a front-end that shows the framebuffer, and feeds real keys and
// clicks into it, sits on top (lumavex_sdl does). Link it together with the core library (shared
// or static).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "lumavex_core.h"

namespace lvxcanvas {

struct Rgba {
  uint8_t r = 0, g = 0, b = 0, a = 255;
  bool operator==(const Rgba &) const = default;
};

// An RGBA picture: pixels row by row, each 4 bytes red, green, blue, alpha in memory.
class Framebuffer {
 public:
  Framebuffer() = default;
  Framebuffer(int width, int height, Rgba fill = {});

  int width() const { return width_; }
  int height() const { return height_; }
  const std::vector<uint32_t> &pixels() const { return pixels_; }

  void fill(Rgba c);
  // Out-of-range positions are ignored (reads give transparent black).
  void set(int x, int y, Rgba c);
  // Mixes c into the pixel with the given coverage (0 leaves it, 255 replaces it).
  void blend(int x, int y, Rgba c, uint8_t coverage);
  Rgba get(int x, int y) const;
  void line(int x1, int y1, int x2, int y2, Rgba c);
  void rect(int x, int y, int w, int h, Rgba c);  // outline
  void fill_rect(int x, int y, int w, int h, Rgba c);
  void disc(int cx, int cy, int radius, Rgba c);
  void circle(int cx, int cy, int radius, Rgba c);  // outline
  // Draws `src` (32-bit RGBA pixels, src_w x src_h) scaled by nearest neighbour into the
  // rectangle (x, y, w, h).
  void blit_scaled(const uint32_t *src, int src_w, int src_h, int x, int y, int w, int h);
  // Text in the built-in 5x7 font, each dot `scale` pixels; returns the width drawn. Lower-case
  // letters use the capitals' shapes; byte 176 is a degree sign; unknown bytes are boxes.
  int text(int x, int y, const std::string &s, Rgba c, int scale = 1);
  static int text_width(const std::string &s, int scale = 1);

 private:
  int width_ = 0, height_ = 0;
  std::vector<uint32_t> pixels_;
};

// The pixel value of a colour as the library's version-2 images hold it.
uint32_t pack(Rgba c);
Rgba unpack(uint32_t pixel);

// The colours of the crosshair codes (CR_HAIR_COLOR .. MARKER_COLOR_WEAK; others white).
Rgba overlay_colour(int code);

// A typeface for the display's texts (8-bit text; byte 176 is the degree sign). The built-in
// one is the framebuffer's 5x7 font; a front-end can supply a scalable one.
class Font {
 public:
  virtual ~Font() = default;
  virtual int height() const = 0;  // of a line, in pixels
  virtual int width(const std::string &text) const = 0;
  // Draws text with its top-left corner at (x, y); returns the width drawn.
  virtual int draw(Framebuffer &fb, int x, int y, const std::string &text, Rgba c) const = 0;
};

// The framebuffer's 5x7 font, each dot `scale` pixels.
class BitmapFont : public Font {
 public:
  explicit BitmapFont(int scale = 2) : scale_(scale) {}
  int height() const override { return 7 * scale_; }
  int width(const std::string &text) const override {
    return Framebuffer::text_width(text, scale_);
  }
  int draw(Framebuffer &fb, int x, int y, const std::string &text, Rgba c) const override {
    return fb.text(x, y, text, c, scale_);
  }

 private:
  int scale_;
};

// How calibration and drift-correction targets look: a disc with a hole of another colour, on
// the target screen's background.
struct TargetStyle {
  int radius = 10;
  int hole = 3;
  Rgba outer{0, 0, 0, 255};
  Rgba inner{255, 255, 255, 255};
  Rgba background{192, 192, 192, 255};
};

// One sound the library asked for.
struct SoundRecord {
  int code;
  uint32_t time_ms;
};

class ReferenceDisplay {
 public:
  // A display of width x height pixels (the experiment's screen).
  ReferenceDisplay(int width = 1024, int height = 768);
  ReferenceDisplay(const ReferenceDisplay &) = delete;
  ReferenceDisplay &operator=(const ReferenceDisplay &) = delete;

  // The version-2 hook table pointing at this display (user_data = this).
  GraphicHooksV2 hooks();
  // Installs hooks() with setup_graphic_hook_functions_V2; returns its result.
  int install();

  // The look of targets (from the next screen on), and the typeface of the title; null gives the
  // built-in 5x7 font back. The font must outlive its use here.
  void set_target_style(const TargetStyle &style) { style_ = style; }
  const TargetStyle &target_style() const { return style_; }
  void set_font(const Font *font) { font_ = font != nullptr ? font : &builtin_font_; }
  const Font &font() const { return *font_; }

  // --- input: what the application's input hook reports next ---
  void press_key(uint16_t key, uint16_t modifiers = 0);
  // Any input event (a key, or a mouse event: type with bit 4).
  void push_input(const InputEvent &event) { input_.push_back(event); }
  // The mouse over the camera area, in that area's pixels; `pressed` holds the button down.
  void set_mouse(int x, int y, bool pressed);
  // Called at every input poll before the queue is drained (on the thread that runs the
  // screens): scripts watch the display and press keys from here.
  std::function<void(ReferenceDisplay &)> on_poll;
  // Called after each complete camera image has been drawn with its overlay.
  std::function<void(ReferenceDisplay &)> on_camera_image;

  // --- what a user would see and hear ---
  Framebuffer &screen() { return screen_; }
  const Framebuffer &screen() const { return screen_; }
  // The last camera image at its own size, before scaling and overlay.
  const Framebuffer &camera_image() const { return camera_; }
  // Where the camera image is shown on the screen.
  int camera_x() const { return area_x_; }
  int camera_y() const { return area_y_; }
  int camera_w() const { return area_w_; }
  int camera_h() const { return area_h_; }
  const std::string &title() const { return title_; }
  bool target_shown() const { return target_shown_; }
  float target_x() const { return target_x_; }
  float target_y() const { return target_y_; }
  const std::vector<SoundRecord> &sounds() const { return sounds_; }
  const std::vector<std::string> &alerts() const { return alerts_; }
  bool camera_view_open() const { return camera_open_; }
  int camera_images() const { return camera_images_; }
  int targets_drawn() const { return targets_drawn_; }
  int polls() const { return polls_; }
  // The number of lines the last overlay drew in each colour code (index 0..7).
  const std::vector<int> &overlay_lines() const { return overlay_lines_; }

  // Colours of the screens (the targets' are TargetStyle's defaults).
  static constexpr Rgba kTargetBackground{192, 192, 192, 255};
  static constexpr Rgba kTargetOuter{0, 0, 0, 255};
  static constexpr Rgba kTargetInner{255, 255, 255, 255};
  static constexpr Rgba kCameraBackground{48, 48, 48, 255};
  static constexpr Rgba kTitleColour{255, 255, 255, 255};
  static constexpr int kTargetRadius = 10;
  static constexpr int kTargetHole = 3;

 private:
  // The hooks.
  static int16_t open_target_screen(void *self);
  static void close_target_screen(void *self);
  static int16_t open_camera_view(void *self, int16_t width, int16_t height);
  static void camera_title(void *self, const char *title);
  static void camera_image(void *self, int16_t width, int16_t height, const uint32_t *pixels);
  static void close_camera_view(void *self);
  static void erase_target(void *self);
  static void blank_target_screen(void *self);
  static void draw_target(void *self, float x, float y);
  static void play_sound(void *self, int32_t code);
  static int16_t poll_input_events(void *self, InputEvent *events);
  static void alert(void *self, const char *text);

  // The overlay's callbacks.
  static void overlay_line(CrosshairCanvas *c, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                           int32_t colour);
  static void overlay_box(CrosshairCanvas *c, int32_t x, int32_t y, int32_t w, int32_t h,
                          int32_t colour);
  static void overlay_mouse(CrosshairCanvas *c, int32_t *x, int32_t *y, int32_t *state);

  void place_camera_area(int width, int height);
  void draw_title();

  Framebuffer screen_;
  Framebuffer camera_;
  TargetStyle style_;
  BitmapFont builtin_font_{2};
  const Font *font_ = &builtin_font_;
  std::deque<InputEvent> input_;
  std::string title_;
  bool target_shown_ = false;
  float target_x_ = 0, target_y_ = 0;
  std::vector<SoundRecord> sounds_;
  std::vector<std::string> alerts_;
  bool camera_open_ = false;
  int camera_images_ = 0;
  int targets_drawn_ = 0;
  int polls_ = 0;
  int area_x_ = 0, area_y_ = 0, area_w_ = 0, area_h_ = 0;
  int mouse_x_ = -1, mouse_y_ = -1;
  bool mouse_pressed_ = false;
  CrosshairCanvas overlay_{};
  std::vector<int> overlay_lines_ = std::vector<int>(8, 0);
};

}  // namespace lvxcanvas
