// The reference display: every version-2 graphic hook, drawn into the framebuffer.
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "lumavex_canvas.h"

namespace lvxcanvas {

namespace {

ReferenceDisplay &self_of(void *p) {
  return *static_cast<ReferenceDisplay *>(p);
}

constexpr int kTitleGap = 6;
// Share of the screen the camera image may take.
constexpr double kCameraShareX = 0.6, kCameraShareY = 0.7;

}  // namespace

Rgba overlay_colour(int code) {
  switch (code) {
    case CR_HAIR_COLOR:
      return {255, 0, 255, 255};
    case PUPIL_HAIR_COLOR:
      return {0, 255, 0, 255};
    case PUPIL_BOX_COLOR:
      return {255, 0, 0, 255};
    case SEARCH_LIMIT_BOX_COLOR:
      return {255, 255, 0, 255};
    case MOUSE_CURSOR_COLOR:
      return {0, 160, 255, 255};
    case MARKER_COLOR:
      return {255, 128, 0, 255};
    case MARKER_COLOR_WEAK:
      return {160, 96, 0, 255};
    default:
      return {255, 255, 255, 255};
  }
}

ReferenceDisplay::ReferenceDisplay(int width, int height)
    : screen_(width, height, TargetStyle{}.background) {
  overlay_.user_data = this;
  overlay_.draw_line = overlay_line;
  overlay_.draw_box = overlay_box;
  overlay_.get_mouse_state = overlay_mouse;
}

GraphicHooksV2 ReferenceDisplay::hooks() {
  GraphicHooksV2 h{};
  h.major_version = 1;
  h.user_data = this;
  h.open_target_screen_hook = open_target_screen;
  h.close_target_screen_hook = close_target_screen;
  h.open_camera_view_hook = open_camera_view;
  h.camera_title_hook = camera_title;
  h.camera_image_hook = camera_image;
  h.close_camera_view_hook = close_camera_view;
  h.erase_target_hook = erase_target;
  h.blank_target_screen_hook = blank_target_screen;
  h.draw_target_hook = draw_target;
  h.play_sound_hook = play_sound;
  h.poll_input_events_hook = poll_input_events;
  h.alert_hook = alert;
  return h;
}

int ReferenceDisplay::install() {
  GraphicHooksV2 h = hooks();
  return setup_graphic_hook_functions_V2(&h);
}

void ReferenceDisplay::press_key(uint16_t key, uint16_t modifiers) {
  InputEvent e{};
  e.type = 1;
  e.state = 1;
  e.key = key;
  e.modifiers = modifiers;
  push_input(e);
}

void ReferenceDisplay::set_mouse(int x, int y, bool pressed) {
  mouse_x_ = x;
  mouse_y_ = y;
  mouse_pressed_ = pressed;
}

int16_t ReferenceDisplay::open_target_screen(void *p) {
  ReferenceDisplay &d = self_of(p);
  d.screen_.fill(d.style_.background);
  d.target_shown_ = false;
  return 0;
}

void ReferenceDisplay::close_target_screen(void * /*p*/) {}

void ReferenceDisplay::place_camera_area(int width, int height) {
  const double s = std::min(kCameraShareX * screen_.width() / std::max(1, width),
                            kCameraShareY * screen_.height() / std::max(1, height));
  area_w_ = std::max(1, static_cast<int>(width * s));
  area_h_ = std::max(1, static_cast<int>(height * s));
  area_x_ = (screen_.width() - area_w_) / 2;
  area_y_ = (screen_.height() - area_h_) / 2 + font_->height();
}

int16_t ReferenceDisplay::open_camera_view(void *p, int16_t width, int16_t height) {
  ReferenceDisplay &d = self_of(p);
  d.camera_open_ = true;
  d.screen_.fill(kCameraBackground);
  d.place_camera_area(width, height);
  return 1;  // the larger image can be shown
}

void ReferenceDisplay::draw_title() {
  const int band = font_->height() + 2;
  const int y = area_y_ - kTitleGap - band;
  screen_.fill_rect(0, y, screen_.width(), band, kCameraBackground);
  const int w = font_->width(title_);
  font_->draw(screen_, (screen_.width() - w) / 2, y + 1, title_, kTitleColour);
}

void ReferenceDisplay::camera_title(void *p, const char *title) {
  ReferenceDisplay &d = self_of(p);
  d.title_ = title != nullptr ? title : "";
  if (d.camera_open_) d.draw_title();
}

void ReferenceDisplay::camera_image(void *p, int16_t width, int16_t height,
                                    const uint32_t *pixels) {
  ReferenceDisplay &d = self_of(p);
  if (width <= 0 || height <= 0 || pixels == nullptr) return;
  if (d.camera_.width() != width || d.camera_.height() != height) {
    d.camera_ = Framebuffer(width, height);
    d.screen_.fill(kCameraBackground);
    d.place_camera_area(width, height);
  }
  // The library reuses its buffer for the next image: keep a copy.
  std::copy(pixels, pixels + static_cast<std::ptrdiff_t>(width) * height,
            const_cast<uint32_t *>(d.camera_.pixels().data()));
  d.screen_.blit_scaled(pixels, width, height, d.area_x_, d.area_y_, d.area_w_, d.area_h_);
  d.draw_title();
  std::fill(d.overlay_lines_.begin(), d.overlay_lines_.end(), 0);
  d.overlay_.width = d.area_w_;
  d.overlay_.height = d.area_h_;
  lumavex_draw_cross_hair(&d.overlay_);
  ++d.camera_images_;
  if (d.on_camera_image) d.on_camera_image(d);
}

void ReferenceDisplay::close_camera_view(void *p) {
  self_of(p).camera_open_ = false;
}

void ReferenceDisplay::erase_target(void *p) {
  blank_target_screen(p);
}

void ReferenceDisplay::blank_target_screen(void *p) {
  ReferenceDisplay &d = self_of(p);
  d.screen_.fill(d.style_.background);
  d.target_shown_ = false;
}

void ReferenceDisplay::draw_target(void *p, float x, float y) {
  ReferenceDisplay &d = self_of(p);
  const int cx = static_cast<int>(std::lround(x));
  const int cy = static_cast<int>(std::lround(y));
  d.screen_.disc(cx, cy, d.style_.radius, d.style_.outer);
  d.screen_.disc(cx, cy, d.style_.hole, d.style_.inner);
  d.target_shown_ = true;
  d.target_x_ = x;
  d.target_y_ = y;
  ++d.targets_drawn_;
}

void ReferenceDisplay::play_sound(void *p, int32_t code) {
  self_of(p).sounds_.push_back(SoundRecord{code, current_time()});
}

int16_t ReferenceDisplay::poll_input_events(void *p, InputEvent *events) {
  ReferenceDisplay &d = self_of(p);
  ++d.polls_;
  if (d.on_poll) d.on_poll(d);
  int16_t n = 0;
  while (n < 20 && !d.input_.empty()) {
    events[n++] = d.input_.front();
    d.input_.pop_front();
  }
  return n;
}

void ReferenceDisplay::alert(void *p, const char *text) {
  self_of(p).alerts_.emplace_back(text != nullptr ? text : "");
}

void ReferenceDisplay::overlay_line(CrosshairCanvas *c, int32_t x1, int32_t y1, int32_t x2,
                                    int32_t y2, int32_t colour) {
  ReferenceDisplay &d = self_of(c->user_data);
  d.screen_.line(d.area_x_ + x1, d.area_y_ + y1, d.area_x_ + x2, d.area_y_ + y2,
                 overlay_colour(colour));
  if (colour >= 0 && colour < static_cast<int32_t>(d.overlay_lines_.size()))
    ++d.overlay_lines_[static_cast<size_t>(colour)];
}

void ReferenceDisplay::overlay_box(CrosshairCanvas *c, int32_t x, int32_t y, int32_t w, int32_t h,
                                   int32_t colour) {
  ReferenceDisplay &d = self_of(c->user_data);
  d.screen_.rect(d.area_x_ + x, d.area_y_ + y, w, h, overlay_colour(colour));
}

void ReferenceDisplay::overlay_mouse(CrosshairCanvas *c, int32_t *x, int32_t *y, int32_t *state) {
  ReferenceDisplay &d = self_of(c->user_data);
  *x = d.mouse_x_;
  *y = d.mouse_y_;
  *state = d.mouse_pressed_ ? 1 : 0;
}

}  // namespace lvxcanvas
