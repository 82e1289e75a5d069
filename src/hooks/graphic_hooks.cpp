#include "hooks/graphic_hooks.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "link/alert.h"
#include "link/user_calls.h"

namespace lvx {

namespace {

constexpr const char kEllipseOn[] = "link_send_ellipse_parameters=1";
constexpr const char kEllipseOff[] = "link_send_ellipse_parameters=0";

// Library-side values are ints; hooks take 16-bit arguments, as the tables declare them.
int16_t short_arg(int value) {
  return static_cast<int16_t>(value);
}

// Truncates toward zero; values beyond the int32 range (and NaN) are pinned instead of being
// undefined.
int32_t truncate_coordinate(float v) {
  if (v != v) return 0;
  if (v >= 2147483648.0f) return INT32_MAX;
  if (v <= -2147483648.0f) return INT32_MIN;
  return static_cast<int32_t>(v);
}

int16_t send_hook_command(uint32_t msec, const char *text) {
  TimedCommand sender = hooks_record().command_sender.load();
  return sender != nullptr ? sender(msec, text) : int16_t{LINK_TERMINATED_RESULT};
}

}  // namespace

uint32_t rgba_pixel(uint8_t red, uint8_t green, uint8_t blue) {
  const uint8_t bytes[4] = {red, green, blue, 255};
  uint32_t pixel;
  std::memcpy(&pixel, bytes, sizeof pixel);
  return pixel;
}

void GraphicHookState::clear() {
  std::memset(&record_, 0, sizeof record_);
}

int GraphicHookState::install(const GraphicHooks *table, int tracker_version) {
  clear();
  if (table != nullptr) {
    std::memcpy(&record_.v1, table, sizeof record_.v1);
    record_.hook_mode = HOOKS_V1;
  }
  tracker_version_ = tracker_version;
  return tracker_version;
}

int16_t GraphicHookState::install_v2(const GraphicHooksV2 &table, int tracker_version) {
  tracker_version_ = tracker_version;
  clear();
  if (table.major_version != 1) return -1;
  // All 19 words, including those the library never reads, so that the copy handed back by
  // get_all_hook_functions_V2 is the table as installed.
  std::memcpy(&record_.v2, &table, sizeof record_.v2);
  record_.hook_mode = HOOKS_V2;
  return 0;
}

GraphicHooks GraphicHookState::v1_table() const {
  GraphicHooks table{};
  if (const GraphicHooks *h = v1()) std::memcpy(&table, h, sizeof table);
  return table;
}

GraphicHooksV2 GraphicHookState::v2_table() const {
  GraphicHooksV2 table{};
  if (const GraphicHooksV2 *h = v2()) std::memcpy(&table, h, sizeof table);
  return table;
}

int16_t GraphicHookState::open_target_screen() {
  if (const GraphicHooks *h = v1(); h && h->open_target_screen_hook)
    return h->open_target_screen_hook();
  if (const GraphicHooksV2 *h = v2(); h && h->open_target_screen_hook)
    return h->open_target_screen_hook(h->user_data);
  return 0;
}

void GraphicHookState::close_target_screen() {
  if (const GraphicHooks *h = v1(); h && h->close_target_screen_hook) h->close_target_screen_hook();
  if (const GraphicHooksV2 *h = v2(); h && h->close_target_screen_hook)
    h->close_target_screen_hook(h->user_data);
}

void GraphicHookState::hide_for_abort_menu() {
  // Version 2 has no such hook.
  if (const GraphicHooks *h = v1(); h && h->hide_for_abort_menu_hook) h->hide_for_abort_menu_hook();
}

int16_t GraphicHookState::open_camera_view(int width, int height, TimedCommand command) {
  const GraphicHooks *h1 = v1();
  const GraphicHooksV2 *h2 = v2();
  const bool set = (h1 && h1->open_camera_view_hook) || (h2 && h2->open_camera_view_hook);
  if (!set) return 0;
  if (sends_ellipse_commands(tracker_version_)) {
    // Ask for pupil ellipses with the image; a refusal is withdrawn so the tracker is not left
    // half-configured.
    if (command(kEllipseCommandMsec, kEllipseOn) == 0) {
      ellipse_flag_ = 1;
    } else {
      ellipse_flag_ = 0;
      command(kEllipseCommandMsec, kEllipseOff);
    }
  }
  if (h1) return h1->open_camera_view_hook(short_arg(width), short_arg(height));
  return h2->open_camera_view_hook(h2->user_data, short_arg(width), short_arg(height));
}

void GraphicHookState::close_camera_view(TimedCommand command) {
  const GraphicHooks *h1 = v1();
  const GraphicHooksV2 *h2 = v2();
  const bool set = (h1 && h1->close_camera_view_hook) || (h2 && h2->close_camera_view_hook);
  if (!set) return;
  ellipse_flag_ = 0;
  if (sends_ellipse_commands(tracker_version_)) command(kEllipseCommandMsec, kEllipseOff);
  if (h1) {
    h1->close_camera_view_hook();
  } else {
    h2->close_camera_view_hook(h2->user_data);
  }
}

void GraphicHookState::camera_title(const char *title) {
  if (title == nullptr || title[0] == '\0') return;
  if (const GraphicHooks *h = v1(); h && h->camera_title_hook) h->camera_title_hook(-1, title);
  if (const GraphicHooksV2 *h = v2(); h && h->camera_title_hook)
    h->camera_title_hook(h->user_data, title);
}

void GraphicHookState::camera_palette(int count, const uint8_t *red, const uint8_t *green,
                                      const uint8_t *blue) {
  palette_count_ = count;
  if (const GraphicHooks *h = v1(); h && h->camera_palette_hook)
    h->camera_palette_hook(short_arg(count), red, green, blue);
  if (const GraphicHooksV2 *h = v2(); h && h->camera_image_hook) {
    // Entries beyond the RGBA palette are dropped; their indexes show the last stored entry.
    const int stored = std::min(count, kRgbaPaletteSize);
    for (int i = 0; i < stored; ++i) record_.palette[i] = rgba_pixel(red[i], green[i], blue[i]);
  }
}

void GraphicHookState::camera_line(int width, int line, int total_lines, uint8_t *pixels) {
  if (palette_count_ < 1) return;
  if (pixels != nullptr && palette_count_ <= 256) {
    const auto last = static_cast<uint8_t>(palette_count_ - 1);
    for (int i = 0; i < width; ++i) pixels[i] = std::min(pixels[i], last);
  }
  if (const GraphicHooks *h = v1(); h && h->camera_line_hook)
    h->camera_line_hook(short_arg(width), short_arg(line), short_arg(total_lines), pixels);
  const GraphicHooksV2 *h = v2();
  if (!h || !h->camera_image_hook) return;
  if (pixels == nullptr || width <= 0 || line < 1) return;
  // A line reaching beyond the collection buffer is dropped, and so is the image it completes:
  // the application would read width x total_lines pixels from a buffer that holds fewer.
  const int64_t start = int64_t{line - 1} * width;
  if (start + width > kRgbaImagePixels) return;
  const int last_entry = std::min(palette_count_, kRgbaPaletteSize) - 1;
  uint32_t *out = record_.image + start;
  for (int i = 0; i < width; ++i) out[i] = record_.palette[std::min(int{pixels[i]}, last_entry)];
  if (line == total_lines)
    h->camera_image_hook(h->user_data, short_arg(width), short_arg(total_lines), record_.image);
}

void GraphicHookState::erase_target() {
  if (const GraphicHooks *h = v1(); h && h->erase_target_hook) h->erase_target_hook();
  if (const GraphicHooksV2 *h = v2(); h && h->erase_target_hook) h->erase_target_hook(h->user_data);
}

void GraphicHookState::blank_target_screen() {
  if (const GraphicHooks *h = v1(); h && h->blank_target_screen_hook) h->blank_target_screen_hook();
  if (const GraphicHooksV2 *h = v2(); h && h->blank_target_screen_hook)
    h->blank_target_screen_hook(h->user_data);
}

void GraphicHookState::draw_target(float x, float y) {
  if (const GraphicHooks *h = v1(); h && h->draw_target_hook)
    h->draw_target_hook(truncate_coordinate(x), truncate_coordinate(y));
  if (const GraphicHooksV2 *h = v2(); h && h->draw_target_hook)
    h->draw_target_hook(h->user_data, x, y);
}

void GraphicHookState::play_sound(int code) {
  if (const GraphicHooksV2 *h = v2(); h && h->play_sound_hook)
    h->play_sound_hook(h->user_data, code);
  const GraphicHooks *h = v1();
  if (!h) return;
  switch (code) {
    case LUMAVEX_SOUND_TARGET_SHOWN:
      if (h->target_shown_sound_hook) h->target_shown_sound_hook();
      break;
    case LUMAVEX_SOUND_CAL_DONE:
    case LUMAVEX_SOUND_CAL_FAILED:
      if (h->calibration_end_sound_hook) h->calibration_end_sound_hook(code == 0 ? 0 : 1);
      break;
    case LUMAVEX_SOUND_DRIFT_TARGET:
      if (h->drift_target_sound_hook) h->drift_target_sound_hook();
      break;
    case LUMAVEX_SOUND_DRIFT_DONE:
    case LUMAVEX_SOUND_DRIFT_FAILED:
      if (h->drift_end_sound_hook)
        h->drift_end_sound_hook(code == LUMAVEX_SOUND_DRIFT_DONE ? 0 : 1);
      break;
    default:
      break;
  }
}

int16_t GraphicHookState::poll_input_events(InputEvent *events) {
  int16_t filled = 0;
  if (const GraphicHooks *h = v1(); h && h->poll_input_events_hook) {
    filled = h->poll_input_events_hook(events);
  } else if (const GraphicHooksV2 *h2 = v2(); h2 && h2->poll_input_events_hook) {
    filled = h2->poll_input_events_hook(h2->user_data, events);
  }
  // The caller never looks past the 20 records it offered, whatever the hook claims.
  return std::clamp<int16_t>(filled, 0, kPollEventCount);
}

bool GraphicHookState::alert(const char *text) {
  if (const GraphicHooks *h = v1(); h && h->alert_hook) {
    h->alert_hook(text);
    return true;
  }
  if (const GraphicHooksV2 *h = v2(); h && h->alert_hook) {
    h->alert_hook(h->user_data, text);
    return true;
  }
  return false;
}

void set_hook_command_sender(TimedCommand sender) {
  hooks_record().command_sender = sender;
}

lumavex_write_image_hook write_image_hook() {
  return hooks_record().write_image_hook.load();
}

lumavex_write_image_hook replace_write_image_hook(lumavex_write_image_hook hook) {
  return hooks_record().write_image_hook.exchange(hook);
}

int16_t hook_open_target_screen() {
  expect_no_library_lock();
  return graphic_hooks().open_target_screen();
}
void hook_close_target_screen() {
  expect_no_library_lock();
  graphic_hooks().close_target_screen();
}
void hook_hide_for_abort_menu() {
  expect_no_library_lock();
  graphic_hooks().hide_for_abort_menu();
}
int16_t hook_open_camera_view(int width, int height) {
  expect_no_library_lock();
  return graphic_hooks().open_camera_view(width, height, send_hook_command);
}
void hook_close_camera_view() {
  expect_no_library_lock();
  graphic_hooks().close_camera_view(send_hook_command);
}
void hook_camera_title(const char *title) {
  expect_no_library_lock();
  graphic_hooks().camera_title(title);
}
void hook_camera_palette(int count, const uint8_t *red, const uint8_t *green, const uint8_t *blue) {
  expect_no_library_lock();
  graphic_hooks().camera_palette(count, red, green, blue);
}
void hook_camera_line(int width, int line, int total_lines, uint8_t *pixels) {
  expect_no_library_lock();
  graphic_hooks().camera_line(width, line, total_lines, pixels);
}
void hook_erase_target() {
  expect_no_library_lock();
  graphic_hooks().erase_target();
}
void hook_blank_target_screen() {
  expect_no_library_lock();
  graphic_hooks().blank_target_screen();
}
void hook_draw_target(float x, float y) {
  expect_no_library_lock();
  graphic_hooks().draw_target(x, y);
}
void hook_play_sound(int code) {
  expect_no_library_lock();
  graphic_hooks().play_sound(code);
}
int hook_poll_input_events(InputEvent *events) {
  expect_no_library_lock();
  return graphic_hooks().poll_input_events(events);
}
int ellipse_flag() {
  return graphic_hooks().ellipse_flag();
}

bool hook_alert(const char *text) {
  return graphic_hooks().alert(text != nullptr ? text : "");
}

}  // namespace lvx
