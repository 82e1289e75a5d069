// The window: the reference display's framebuffer shown through an SDL texture, the hooks that
// show each change, the window's input, the key script and the tones.
#include <SDL.h>
#include <SDL_ttf.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "lumavex_sdl.h"
#include "ttf_font.h"

namespace lvxsdl {

namespace {

Window &self_of(void *p) {
  return *static_cast<Window *>(p);
}

// Where Debian keeps DejaVu Sans (fonts-dejavu-core).
constexpr const char *kDefaultFonts[] = {
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
    "/usr/share/fonts/TTF/DejaVuSans.ttf",
};

// The type of an input event that is not a key (the library's "other" events).
constexpr uint8_t kMouseEventType = 4;

}  // namespace

Rect fit(int window_w, int window_h, int picture_w, int picture_h) {
  if (window_w <= 0 || window_h <= 0 || picture_w <= 0 || picture_h <= 0) return {};
  Rect r;
  // Whichever side limits: the other is scaled in the picture's proportions.
  if (int64_t{window_w} * picture_h <= int64_t{window_h} * picture_w) {
    r.w = window_w;
    r.h = static_cast<int>(int64_t{window_w} * picture_h / picture_w);
  } else {
    r.h = window_h;
    r.w = static_cast<int>(int64_t{window_h} * picture_w / picture_h);
  }
  r.x = (window_w - r.w) / 2;
  r.y = (window_h - r.h) / 2;
  return r;
}

std::optional<std::pair<int, int>> to_picture(const Rect &r, int picture_w, int picture_h, int x,
                                              int y) {
  if (r.w <= 0 || r.h <= 0 || x < r.x || y < r.y || x >= r.x + r.w || y >= r.y + r.h) {
    return std::nullopt;
  }
  return std::make_pair(static_cast<int>(int64_t{x - r.x} * picture_w / r.w),
                        static_cast<int>(int64_t{y - r.y} * picture_h / r.h));
}

Window::Window(WindowOptions options)
    : options_(std::move(options)), canvas_(options_.width, options_.height) {
  canvas_.set_target_style(options_.target);
  inner_ = canvas_.hooks();
}

Window::~Window() {
  // The library must not call hooks of a window that is gone.
  GraphicHooksV2 *installed = get_all_hook_functions_V2();
  if (installed != nullptr && installed->user_data == this) setup_graphic_hook_functions(nullptr);
  canvas_.set_font(nullptr);
  ttf_.reset();
  if (ttf_started_) TTF_Quit();
  if (audio_ != 0) {
    SDL_CloseAudioDevice(audio_);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }
  if (texture_ != nullptr) SDL_DestroyTexture(texture_);
  if (renderer_ != nullptr) SDL_DestroyRenderer(renderer_);
  if (window_ != nullptr) SDL_DestroyWindow(window_);
  if (video_) SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
  if (SDL_WasInit(0) == 0) SDL_Quit();
}

bool Window::open(std::string *error) {
  auto fail = [&](const char *what) {
    if (error != nullptr) *error = std::string(what) + ": " + SDL_GetError();
    return false;
  };
  if (window_ != nullptr) return true;
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) return fail("no video");
  video_ = true;
  const Uint32 flags = options_.fullscreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0;
  window_ = SDL_CreateWindow(options_.title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                             options_.width, options_.height, flags);
  if (window_ == nullptr) return fail("no window");
  renderer_ = SDL_CreateRenderer(window_, -1, options_.vsync ? SDL_RENDERER_PRESENTVSYNC : 0);
  if (renderer_ == nullptr) return fail("no renderer");
  // Bytes red, green, blue, alpha in memory: the framebuffer's order.
  texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGBA32, SDL_TEXTUREACCESS_STREAMING,
                               options_.width, options_.height);
  if (texture_ == nullptr) return fail("no texture");

  if (TTF_Init() == 0) {
    ttf_started_ = true;
    const int size =
        options_.font_size > 0 ? options_.font_size : std::clamp(options_.height / 40, 12, 48);
    std::vector<std::string> paths;
    if (!options_.font_path.empty()) paths.push_back(options_.font_path);
    for (const char *p : kDefaultFonts) paths.emplace_back(p);
    for (const std::string &p : paths) {
      if (access(p.c_str(), R_OK) != 0) continue;
      ttf_ = TtfFont::open(p, size);
      if (ttf_) break;
    }
    if (ttf_) canvas_.set_font(ttf_.get());
  }

  if (!options_.show_cursor) SDL_ShowCursor(SDL_DISABLE);
  if (options_.sound && SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
    SDL_AudioSpec want{};
    want.freq = 44100;
    want.format = AUDIO_S16SYS;
    want.channels = 1;
    want.samples = 512;
    SDL_AudioSpec have{};
    audio_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (audio_ != 0) {
      audio_rate_ = have.freq;
      SDL_PauseAudioDevice(audio_, 0);
    } else {
      SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
  }
  canvas_.screen().fill(options_.target.background);
  present();
  return true;
}

GraphicHooksV2 Window::hooks() {
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

int Window::install() {
  GraphicHooksV2 h = hooks();
  return setup_graphic_hook_functions_V2(&h);
}

Rect Window::picture_rect() const {
  int w = options_.width;
  int h = options_.height;
  if (renderer_ != nullptr) SDL_GetRendererOutputSize(renderer_, &w, &h);
  return fit(w, h, options_.width, options_.height);
}

void Window::present() {
  if (renderer_ == nullptr) return;
  const lvxcanvas::Framebuffer &fb = canvas_.screen();
  SDL_UpdateTexture(texture_, nullptr, fb.pixels().data(), fb.width() * 4);
  SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
  SDL_RenderClear(renderer_);
  const Rect r = picture_rect();
  const SDL_Rect dst{r.x, r.y, r.w, r.h};
  SDL_RenderCopy(renderer_, texture_, nullptr, &dst);
  SDL_RenderPresent(renderer_);
}

void Window::show(Shown::What what, double started_us) {
  present();
  if (on_shown) on_shown(Shown{what, started_us, current_double_usec()});
}

void Window::mouse_at(int window_x, int window_y) {
  // Window points to renderer pixels (they differ on high-density screens), then to the picture.
  int ww = 0, wh = 0, ow = 0, oh = 0;
  SDL_GetWindowSize(window_, &ww, &wh);
  SDL_GetRendererOutputSize(renderer_, &ow, &oh);
  if (ww > 0 && wh > 0) {
    window_x = static_cast<int>(int64_t{window_x} * ow / ww);
    window_y = static_cast<int>(int64_t{window_y} * oh / wh);
  }
  pointer_ = to_picture(picture_rect(), options_.width, options_.height, window_x, window_y);
  if (pointer_) {
    canvas_.set_mouse(pointer_->first - canvas_.camera_x(), pointer_->second - canvas_.camera_y(),
                      button_);
  } else {
    canvas_.set_mouse(-1, -1, false);
  }
}

bool Window::pump() {
  if (window_ == nullptr) return false;
  run_script();
  SDL_Event e;
  while (SDL_PollEvent(&e) != 0) {
    switch (e.type) {
      case SDL_QUIT:
        closed_ = true;
        if (options_.close_ends_loops) terminal_break(1);
        break;
      case SDL_KEYDOWN: {
        const auto mods = static_cast<uint16_t>(e.key.keysym.mod);
        const uint16_t code = key_code(e.key.keysym.sym, mods);
        if (code != 0) canvas_.press_key(code, mods);
        break;
      }
      case SDL_MOUSEMOTION:
        mouse_at(e.motion.x, e.motion.y);
        break;
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP: {
        button_ = e.type == SDL_MOUSEBUTTONDOWN;
        mouse_at(e.button.x, e.button.y);
        if (!pointer_) break;
        // For the application's input-event queue: the button as the key, the position in
        // display pixels as x | y << 16.
        InputEvent in{};
        in.type = kMouseEventType;
        in.state = button_ ? 1 : 0;
        in.key = e.button.button;
        in.modifiers = static_cast<uint16_t>(SDL_GetModState());
        in.data = static_cast<uint32_t>(pointer_->first) | static_cast<uint32_t>(pointer_->second)
                                                               << 16;
        canvas_.push_input(in);
        break;
      }
      case SDL_WINDOWEVENT:
        if (e.window.event == SDL_WINDOWEVENT_EXPOSED) present();
        break;
      default:
        break;
    }
  }
  if (on_pump) on_pump(*this);
  return !closed_;
}

void Window::play(std::vector<ScriptStep> steps) {
  script_ = std::move(steps);
  next_step_ = 0;
  step_started_us_ = current_double_usec();
  step_images_ = canvas_.camera_images();
  step_targets_ = canvas_.targets_drawn();
}

void Window::run_script() {
  while (next_step_ < script_.size()) {
    const ScriptStep &s = script_[next_step_];
    const double now = current_double_usec();
    bool done = true;
    switch (s.kind) {
      case ScriptStep::Kind::kKey: {
        // Through SDL's queue, so that the key takes the way a pressed key takes.
        SDL_Event e{};
        e.type = SDL_KEYDOWN;
        e.key.state = SDL_PRESSED;
        e.key.windowID = SDL_GetWindowID(window_);
        e.key.keysym.sym = s.key;
        e.key.keysym.scancode = SDL_GetScancodeFromKey(s.key);
        e.key.keysym.mod = s.modifiers;
        SDL_PushEvent(&e);
        break;
      }
      case ScriptStep::Kind::kPause:
        done = now - step_started_us_ >= s.ms * 1000.0;
        break;
      case ScriptStep::Kind::kPointer: {
        // Warped through the window system, so the motion arrives as a real one would: display
        // pixels to renderer pixels to window points.
        const Rect r = picture_rect();
        int ww = 0, wh = 0, ow = 0, oh = 0;
        SDL_GetWindowSize(window_, &ww, &wh);
        SDL_GetRendererOutputSize(renderer_, &ow, &oh);
        const int64_t px = r.x + int64_t{s.x} * r.w / std::max(1, options_.width);
        const int64_t py = r.y + int64_t{s.y} * r.h / std::max(1, options_.height);
        SDL_WarpMouseInWindow(window_, static_cast<int>(px * ww / std::max(1, ow)),
                              static_cast<int>(py * wh / std::max(1, oh)));
        break;
      }
      case ScriptStep::Kind::kWaitCamera:
        done = canvas_.camera_images() > step_images_;
        break;
      case ScriptStep::Kind::kWaitTarget:
        done = canvas_.targets_drawn() > step_targets_ && canvas_.target_shown();
        break;
    }
    if (!done) return;
    ++next_step_;
    step_started_us_ = now;
    step_images_ = canvas_.camera_images();
    step_targets_ = canvas_.targets_drawn();
    if (on_step) on_step(s);
  }
}

// --- the hooks ---

int16_t Window::open_target_screen(void *p) {
  Window &w = self_of(p);
  const double t = current_double_usec();
  const int16_t r = w.inner_.open_target_screen_hook(w.inner_.user_data);
  w.show(Shown::What::kTargetScreen, t);
  return r;
}

void Window::close_target_screen(void *p) {
  Window &w = self_of(p);
  w.inner_.close_target_screen_hook(w.inner_.user_data);
}

int16_t Window::open_camera_view(void *p, int16_t width, int16_t height) {
  Window &w = self_of(p);
  const double t = current_double_usec();
  const int16_t r = w.inner_.open_camera_view_hook(w.inner_.user_data, width, height);
  w.show(Shown::What::kCameraView, t);
  return r;
}

void Window::camera_title(void *p, const char *title) {
  Window &w = self_of(p);
  const double t = current_double_usec();
  w.inner_.camera_title_hook(w.inner_.user_data, title);
  w.show(Shown::What::kTitle, t);
}

void Window::camera_image(void *p, int16_t width, int16_t height, const uint32_t *pixels) {
  Window &w = self_of(p);
  const double t = current_double_usec();
  w.inner_.camera_image_hook(w.inner_.user_data, width, height, pixels);
  w.show(Shown::What::kCameraImage, t);
}

void Window::close_camera_view(void *p) {
  Window &w = self_of(p);
  w.inner_.close_camera_view_hook(w.inner_.user_data);
}

void Window::erase_target(void *p) {
  Window &w = self_of(p);
  const double t = current_double_usec();
  w.inner_.erase_target_hook(w.inner_.user_data);
  w.show(Shown::What::kBlank, t);
}

void Window::blank_target_screen(void *p) {
  Window &w = self_of(p);
  const double t = current_double_usec();
  w.inner_.blank_target_screen_hook(w.inner_.user_data);
  w.show(Shown::What::kBlank, t);
}

void Window::draw_target(void *p, float x, float y) {
  Window &w = self_of(p);
  const double t = current_double_usec();
  w.inner_.draw_target_hook(w.inner_.user_data, x, y);
  w.show(Shown::What::kTarget, t);
}

void Window::play_sound(void *p, int32_t code) {
  Window &w = self_of(p);
  w.inner_.play_sound_hook(w.inner_.user_data, code);
  if (w.audio_ == 0) return;
  const std::vector<int16_t> samples = tone(code, w.audio_rate_);
  if (samples.empty()) return;
  SDL_ClearQueuedAudio(w.audio_);  // a new sound cuts the last one short
  SDL_QueueAudio(w.audio_, samples.data(), static_cast<Uint32>(samples.size() * sizeof samples[0]));
}

int16_t Window::poll_input_events(void *p, InputEvent *events) {
  Window &w = self_of(p);
  w.pump();
  return w.inner_.poll_input_events_hook(w.inner_.user_data, events);
}

void Window::alert(void *p, const char *text) {
  Window &w = self_of(p);
  w.inner_.alert_hook(w.inner_.user_data, text);
  std::fprintf(stderr, "Lumavex Error: %s\n", text != nullptr ? text : "");
}

}  // namespace lvxsdl
