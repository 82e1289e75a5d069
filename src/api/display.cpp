// Exported camera-image, setup-display, setup-loop and crosshair functions.
#include "api/guard.h"
#include "control/input.h"
#include "display/camera_image.h"
#include "display/crosshair.h"
#include "display/setup_kernel.h"
#include "display/setup_loops.h"
#include "lumavex_core.h"

using lvx::api::guard;
using lvx::api::guard_void;

extern "C" {

// ---- Camera images ----

int16_t lumavex_request_image(int16_t kind, int16_t width, int16_t height) noexcept {
  return guard(int16_t{-1}, [&] { return lvx::request_image(kind, width, height); });
}

void lumavex_abort_image(void) noexcept {
  guard_void([] { lvx::abort_image(); });
}

int16_t lumavex_get_palette(PaletteInfo *out) noexcept {
  return guard(int16_t{-1}, [&] { return lvx::image_palette(out); });
}

int16_t lumavex_get_line(uint8_t *buffer) noexcept {
  return guard(int16_t{-1}, [&] { return lvx::image_line(buffer); });
}

int lumavex_image_status(void) noexcept {
  return guard(0, [] { return lvx::image_status(); });
}

int16_t lumavex_image_data(int16_t *width, int16_t *height, int16_t *type) noexcept {
  return guard(int16_t{-1}, [&] { return lvx::image_data(width, height, type); });
}

// ---- Setup display ----

int16_t image_display_kernal_init(int16_t, int16_t, int16_t, int16_t, int16_t extended) noexcept {
  return guard(int16_t{0}, [&] { return lvx::kernel_init(extended); });
}

int16_t image_display_kernal_iterate(int16_t command) noexcept {
  return guard(int16_t{-1}, [&] { return lvx::kernel_iterate(command); });
}

int16_t image_display_kernal_pause(int16_t value) noexcept {
  return guard(value, [&] { return lvx::kernel_pause(value); });
}

int get_image_xhair_data(int16_t x[4], int16_t y[4], int16_t *mode) noexcept {
  return guard(0, [&] { return lvx::kernel_xhair_data(x, y, mode); });
}

int get_corneal_threshold(void) noexcept {
  return guard(-1, [] { return lvx::kernel_state().cr_threshold; });
}

int get_last_corneal_threshold(void) noexcept {
  return guard(-1, [] { return lvx::kernel_state().last_cr; });
}

void set_last_corneal_threshold(int threshold) noexcept {
  guard_void([&] { lvx::kernel_state().last_cr = threshold; });
}

// ---- Setup, calibration and drift correction ----

int16_t do_tracker_setup(void) noexcept {
  return guard(int16_t{-1}, [] { return lvx::tracker_setup(); });
}

int16_t do_drift_correctf(float x, float y, int16_t draw, int16_t allow_setup) noexcept {
  return guard(int16_t{-1}, [&] { return lvx::drift_correct(x, y, draw, allow_setup); });
}

int16_t do_drift_correct(int16_t x, int16_t y, int16_t draw, int16_t allow_setup) noexcept {
  return guard(int16_t{-1}, [&] {
    return lvx::drift_correct(static_cast<float>(x), static_cast<float>(y), draw, allow_setup);
  });
}

int16_t target_mode_display(void) noexcept {
  return guard(int16_t{-1}, [] { return lvx::target_screen(); });
}

int16_t image_mode_display(void) noexcept {
  return guard(int16_t{0}, [] { return lvx::camera_screen(false); });
}

void exit_calibration(void) noexcept {
  guard_void([] { lvx::exit_calibration(); });
}

// ---- Crosshair overlay ----

int lumavex_draw_cross_hair(CrosshairCanvas *canvas) noexcept {
  return guard(0, [&] { return lvx::draw_cross_hair(canvas); });
}

}  // extern "C"
