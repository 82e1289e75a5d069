// lumavex_sdl: the graphic hooks of lumavex_core on a real window (SDL2), so that
// do_tracker_setup and do_drift_correctf run on screen unchanged: calibration and drift-correction
// targets, the camera image scaled with its crosshair overlay and title, short tones for the
// sounds, and the window's keyboard and mouse through the input hook.
//
// The drawing is the reference display's (lumavex_canvas): every hook draws into its RGBA
// framebuffer, and the window shows that picture, scaled to fit (full screen or windowed). Texts
// are set in a TrueType font through SDL_ttf (DejaVu Sans unless told otherwise; the built-in
// 5x7 font when none is found). GazeView adds a live gaze cursor drawn the same way.
//
// Like the canvas it calls the core's exported functions and links no core itself. Everything
// runs on the thread that made the window (SDL wants its events there), which is the thread that
// runs the library's setup loops.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "lumavex_canvas.h"
#include "lumavex_core.h"

struct SDL_Window;
struct SDL_Renderer;
struct SDL_Texture;

namespace lvxsdl {

// --- keys ---

// Codes of keys without a character, as the tracker reads them (PC scan codes in the high byte).
inline constexpr uint16_t kKeyF1 = 0x3B00;  // F1..F10 follow on: 0x3C00 .. 0x4400
inline constexpr uint16_t kKeyF11 = 0x8500;
inline constexpr uint16_t kKeyF12 = 0x8600;
inline constexpr uint16_t kKeyHome = 0x4700;
inline constexpr uint16_t kKeyUp = 0x4800;
inline constexpr uint16_t kKeyPageUp = 0x4900;
inline constexpr uint16_t kKeyLeft = 0x4B00;
inline constexpr uint16_t kKeyRight = 0x4D00;
inline constexpr uint16_t kKeyEnd = 0x4F00;
inline constexpr uint16_t kKeyDown = 0x5000;
inline constexpr uint16_t kKeyPageDown = 0x5100;
inline constexpr uint16_t kKeyInsert = 0x5200;
inline constexpr uint16_t kKeyDelete = 0x5300;

// The library's key code for an SDL key (SDL_Keycode) with SDL's modifier bits: characters as
// themselves (letters in capitals with shift or caps lock), Enter 13, Escape 27, Backspace 8,
// Tab 9, and the codes above; 0 for keys that give none (a modifier alone, say).
uint16_t key_code(int32_t sdl_key, uint16_t sdl_modifiers);

// --- where the picture goes ---

struct Rect {
  int x = 0, y = 0, w = 0, h = 0;
};

// The largest rectangle of the picture's proportions inside the window, centred.
Rect fit(int window_w, int window_h, int picture_w, int picture_h);
// The picture pixel under window pixel (x, y), when the picture is shown in `r`; nullopt outside.
std::optional<std::pair<int, int>> to_picture(const Rect &r, int picture_w, int picture_h, int x,
                                              int y);

// --- sounds ---

// The tone for a sound code of the library (LUMAVEX_SOUND_*), as 16-bit mono samples at `rate`
// samples per second: a short high beep when a target appears, a rising pair when a calibration
// or drift correction succeeded, a low buzz when it failed; empty for any other code.
std::vector<int16_t> tone(int code, int rate);

// --- scripted input ---

// One step of a key script (the operator's keys, for tests and demonstrations).
struct ScriptStep {
  enum class Kind {
    kKey,         // press a key (key, modifiers: SDL's)
    kPause,       // wait ms milliseconds
    kPointer,     // move the mouse pointer to (x, y), display pixels
    kWaitCamera,  // wait until a camera image has been shown since this step began
    kWaitTarget,  // wait until a new target has been drawn since this step began
  };
  Kind kind = Kind::kPause;
  int32_t key = 0;
  uint16_t modifiers = 0;
  int ms = 0;
  int x = 0, y = 0;
  std::string text;  // the word it came from
};

// Reads a script of words separated by blanks: a key ("enter", "esc", "space", "tab",
// "backspace", "up", "down", "left", "right", "pageup", "pagedown", "home", "end", "f1".."f12",
// or a single character such as "c"), a pause ("500ms", "2s", "1.5s"), "mouse:X,Y", "@camera"
// or "@target". False with the reason in *error for anything else.
bool parse_script(const std::string &text, std::vector<ScriptStep> *steps, std::string *error);

// --- the window ---

struct WindowOptions {
  // The display in pixels: the experiment's screen coordinates (targets, gaze). The window has
  // this size, or in full screen the desktop's, with the picture scaled to fit.
  int width = 1024;
  int height = 768;
  bool fullscreen = false;
  std::string title = "lumavex";
  lvxcanvas::TargetStyle target;
  // A TrueType font for the texts and its size in pixels (0: a fortieth of the height). Empty:
  // DejaVu Sans where Debian keeps it, else the built-in 5x7 font.
  std::string font_path;
  int font_size = 0;
  bool sound = true;
  // The mouse pointer over the window (a participant in full screen need not see it).
  bool show_cursor = true;
  // Wait for the screen's refresh when showing a frame (where the renderer can).
  bool vsync = true;
  // Closing the window (or SIGINT) calls terminal_break(1), which ends the library's loops.
  bool close_ends_loops = true;
};

// What a frame showed, with when its drawing began and when the window had it (the library's
// clock, current_double_usec()).
struct Shown {
  enum class What { kTargetScreen, kTarget, kBlank, kCameraView, kTitle, kCameraImage, kFrame };
  What what = What::kFrame;
  double started_us = 0;
  double shown_us = 0;
};

class TtfFont;

class Window {
 public:
  explicit Window(WindowOptions options = {});
  ~Window();
  Window(const Window &) = delete;
  Window &operator=(const Window &) = delete;

  // Opens the window (and the font and the sound device, without which it goes on silently or
  // with the built-in font). False with SDL's reason in *error when there is no window.
  bool open(std::string *error = nullptr);

  // The version-2 hook table of this window (user_data = this), and installing it with
  // setup_graphic_hook_functions_V2 (its result). The window removes its hooks when destroyed.
  GraphicHooksV2 hooks();
  int install();

  // The reference display underneath: its framebuffer is the picture shown.
  lvxcanvas::ReferenceDisplay &canvas() { return canvas_; }
  const lvxcanvas::Font &font() const { return canvas_.font(); }
  const WindowOptions &options() const { return options_; }
  // The SDL window, for what this class does not do (null before open()).
  SDL_Window *sdl_window() const { return window_; }

  // Shows the framebuffer now; returns when the window system has it.
  void present();
  // Takes the window's events: keys go to the input hook's queue, the mouse to the camera
  // view's overlay (and its buttons to the input-event queue), a close request ends the loops.
  // Runs the script's due steps first and on_pump last. The input hook calls it; a loop of the
  // application's own calls it (or getkey) once a frame. False once the window was closed.
  bool pump();

  // Plays a key script from now on, one step after the other, from pump().
  void play(std::vector<ScriptStep> steps);
  bool script_done() const { return next_step_ >= script_.size(); }

  // The mouse pointer in display pixels, while it is over the picture.
  std::optional<std::pair<int, int>> pointer() const { return pointer_; }
  bool closed() const { return closed_; }

  // Called after each frame the window showed, after each script step carried out, and at the
  // end of each pump().
  std::function<void(const Shown &)> on_shown;
  std::function<void(const ScriptStep &)> on_step;
  std::function<void(Window &)> on_pump;

 private:
  // The hooks: each calls the reference display's, then shows the result.
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

  void show(Shown::What what, double started_us);
  void run_script();
  void mouse_at(int window_x, int window_y);
  Rect picture_rect() const;

  WindowOptions options_;
  lvxcanvas::ReferenceDisplay canvas_;
  GraphicHooksV2 inner_{};  // the reference display's hooks
  SDL_Window *window_ = nullptr;
  SDL_Renderer *renderer_ = nullptr;
  SDL_Texture *texture_ = nullptr;
  std::unique_ptr<TtfFont> ttf_;
  uint32_t audio_ = 0;  // SDL audio device, 0 none
  int audio_rate_ = 0;
  bool video_ = false;
  bool ttf_started_ = false;
  bool closed_ = false;
  std::optional<std::pair<int, int>> pointer_;
  bool button_ = false;
  std::vector<ScriptStep> script_;
  size_t next_step_ = 0;
  double step_started_us_ = 0;
  int step_images_ = 0;   // camera images shown when the step began
  int step_targets_ = 0;  // targets drawn when the step began
};

// --- live gaze ---

// One frame of the gaze view: the sample whose cursor it shows, when that sample reached the
// library and when the frame was drawn and shown (the library's clock, microseconds).
struct GazeFrame {
  bool has_sample = false;
  uint32_t sample_time = 0;  // tracker time, ms
  float x = 0, y = 0;        // the cursor, display pixels
  double arrival_us = 0;     // 0 when unknown
  double drawn_us = 0;       // drawing began
  double shown_us = 0;
  double sample_age_ms = 0;  // shown, against the tracker's clock (its time line's estimate)
};

// The newest gaze as a cursor on the window, with the fixations marked as they end (joined by
// the path the eye took) and a status line: where the eye looks, the time from a sample's
// arrival to the frame that shows it, the age of the sample then, frames per second. It reads the
// data queue, so the tracker must be sending samples and events over the link (start_recording
// with link data). While it lives it owns the data-ready callback, through which it notes when
// each sample arrives. One at a time.
class GazeView {
 public:
  explicit GazeView(Window &window);
  ~GazeView();
  GazeView(const GazeView &) = delete;
  GazeView &operator=(const GazeView &) = delete;

  // Reads what the queue holds, draws a frame and shows it.
  void frame();
  // Called after each frame.
  std::function<void(const GazeFrame &)> on_frame;

  int fixations() const { return fixations_seen_; }
  int frames() const { return frames_; }

  // Colours.
  static constexpr lvxcanvas::Rgba kBackground{40, 40, 40, 255};
  static constexpr lvxcanvas::Rgba kCursor{255, 48, 48, 255};
  static constexpr lvxcanvas::Rgba kFixation{90, 160, 255, 255};
  static constexpr lvxcanvas::Rgba kPath{60, 100, 160, 255};
  static constexpr lvxcanvas::Rgba kText{230, 230, 230, 255};
  static constexpr int kCursorRadius = 9;

 private:
  struct Fixation {
    float x, y;
    uint32_t duration_ms;
  };
  void take_data();
  void draw(double now_us);

  Window &window_;
  lumavex_data_ready_callback previous_ = nullptr;
  std::optional<GazeFrame> newest_;  // the newest sample, before it is shown
  bool blink_ = false;
  int eye_ = -1;  // the eye whose fixations are marked (the first one seen)
  std::vector<Fixation> marks_;
  int fixations_seen_ = 0;
  int frames_ = 0;
  std::vector<double> latencies_ms_;  // arrival to screen, the last frames
  std::vector<double> shown_at_us_;   // when the last frames were shown
  double last_age_ms_ = 0;
};

}  // namespace lvxsdl
