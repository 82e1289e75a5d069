// The application's graphic hooks: the installed table of either form, and one dispatch function
// per hook. Every screen, input poll and alert of the library calls its hook through the dispatch
// functions at the end of this file, which decide whether the hook is called, skipped or replaced
// by a default; no other code looks at which table form is installed.
#pragma once

#include <atomic>
#include <cstdint>

#include "lumavex_core.h"

namespace lvx {

// Entries of the RGBA palette built for version-2 tables.
constexpr int kRgbaPaletteSize = 132;
// Pixels of the version-2 image collection buffer (640 x 768).
constexpr int kRgbaImagePixels = 491520;
// Records offered to a poll_input_events_hook.
constexpr int kPollEventCount = 20;
// How long each pupil-ellipse command waits for the tracker's result.
constexpr uint32_t kEllipseCommandMsec = 1000;

// Table form installed: none, GraphicHooks, GraphicHooksV2.
enum HookMode : int { HOOKS_NONE = 0, HOOKS_V1 = 1, HOOKS_V2 = 2 };

// Sends a tracker command and waits up to msec for its result.
using TimedCommand = int16_t (*)(uint32_t msec, const char *text);

// Whether camera views of a tracker of this generation request pupil-ellipse parameters.
constexpr bool sends_ellipse_commands(int tracker_version) {
  return tracker_version >= 3;
}

// Pixel value of a version-2 image: bytes red, green, blue, 255 in memory.
uint32_t rgba_pixel(uint8_t red, uint8_t green, uint8_t blue);

// The installed hooks and what the dispatchers keep beside them. Pure apart from the hooks it
// calls and the command sender handed to the camera-view calls, so tests can hold their own.
class GraphicHookState {
 public:
  // Replaces everything with a copy of `table` (null: no hooks), resets the palette and the
  // image, and stores the tracker version. Returns the version.
  int install(const GraphicHooks *table, int tracker_version);
  // As install for a version-2 table: 0, or -1 when its major_version is not 1 (nothing is then
  // installed, and whatever was installed before is gone).
  int16_t install_v2(const GraphicHooksV2 &table, int tracker_version);

  int mode() const { return record_.hook_mode; }
  // The installed table of that form, all zero when the other form or none is installed.
  GraphicHooks v1_table() const;
  GraphicHooksV2 v2_table() const;
  int tracker_version() const { return tracker_version_; }
  int palette_count() const { return palette_count_; }
  // 1 while the tracker sends pupil-ellipse parameters with the camera image.
  int ellipse_flag() const { return ellipse_flag_; }

  int16_t open_target_screen();
  void close_target_screen();
  void hide_for_abort_menu();
  // When an open hook is set: on third-generation and later trackers first asks for pupil
  // ellipses through `command` (withdrawing the request when refused), then calls the hook.
  int16_t open_camera_view(int width, int height, TimedCommand command);
  // When a close hook is set: clears the ellipse flag, withdraws the ellipse request on
  // third-generation and later trackers, then calls the hook.
  void close_camera_view(TimedCommand command);
  void camera_title(const char *title);
  void camera_palette(int count, const uint8_t *red, const uint8_t *green, const uint8_t *blue);
  // Clamps the caller's pixel indexes into the palette, then hands the line on.
  void camera_line(int width, int line, int total_lines, uint8_t *pixels);
  void erase_target();
  void blank_target_screen();
  void draw_target(float x, float y);
  void play_sound(int code);
  // How many of the 20 records the hook filled; 0 without a hook, never more than 20 or below 0.
  int16_t poll_input_events(InputEvent *events);
  // False when no alert hook is installed, so that the caller shows the text itself.
  bool alert(const char *text);

 private:
  // Cleared as a whole by both install functions.
  struct Record {
    int hook_mode;
    GraphicHooks v1;
    GraphicHooksV2 v2;
    uint32_t palette[kRgbaPaletteSize];
    uint32_t image[kRgbaImagePixels];
  };
  void clear();
  const GraphicHooks *v1() const { return record_.hook_mode == HOOKS_V1 ? &record_.v1 : nullptr; }
  const GraphicHooksV2 *v2() const { return record_.hook_mode == HOOKS_V2 ? &record_.v2 : nullptr; }

  Record record_{};
  int tracker_version_ = 0;
  int palette_count_ = 0;
  int ellipse_flag_ = 0;
};

// The sender of the camera view's pupil-ellipse commands (the command channel's timed command);
// registered by the owner. Until then those commands fail with -100.
void set_hook_command_sender(TimedCommand sender);

// The hooks' process-wide record.
//  - `installed` is written by the application thread that installs tables and runs the screens
//    and polls; the alert dispatch only reads the installed alert hook, from any thread.
//  - The writer and the command sender are atomics: set by the application and the owner, read
//    by any thread.
//  - The copies are what get_all_hook_functions and its V2 form hand to the application (they
//    stay valid until the next call); application thread.
struct HooksRecord {
  GraphicHookState installed;
  std::atomic<lumavex_write_image_hook> write_image_hook{nullptr};
  // Sends the camera view's pupil-ellipse commands; registered by the owner (the command channel).
  std::atomic<TimedCommand> command_sender{nullptr};
  GraphicHooks v1_copy{};
  GraphicHooksV2 v2_copy{};
};
HooksRecord &hooks_record();

// The process-wide hooks.
inline GraphicHookState &graphic_hooks() {
  return hooks_record().installed;
}

// The image writer of set_write_image_hook (null until set). The bitmap transfer swaps its own
// writer in for a TCP upload with replace_write_image_hook and puts the previous one back.
lumavex_write_image_hook write_image_hook();
lumavex_write_image_hook replace_write_image_hook(lumavex_write_image_hook hook);

// One dispatch per hook, on the process-wide hooks. Call them only while holding no library lock:
// the hooks run the application's code (debug builds stop when a lock is held).
int16_t hook_open_target_screen();
void hook_close_target_screen();
void hook_hide_for_abort_menu();
int16_t hook_open_camera_view(int width, int height);
void hook_close_camera_view();
void hook_camera_title(const char *title);
void hook_camera_palette(int count, const uint8_t *red, const uint8_t *green, const uint8_t *blue);
void hook_camera_line(int width, int line, int total_lines, uint8_t *pixels);
void hook_erase_target();
void hook_blank_target_screen();
void hook_draw_target(float x, float y);
void hook_play_sound(int code);
// Polls the application's input hook into `events` (room for 20 records); returns how many it
// filled, 0..20, and 0 without a hook.
int hook_poll_input_events(InputEvent *events);
// Shows a text through the application's alert hook; false when none is installed. This is the
// alert sink of the link's alert service.
bool hook_alert(const char *text);
// 1 while pupil-ellipse parameters come with the camera image.
int ellipse_flag();

}  // namespace lvx
