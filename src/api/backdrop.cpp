// Backdrop images for the tracker's operator display.
#include "backdrop/backdrop.h"
#include "api/guard.h"

using lvx::api::guard;
using lvx::backdrop::kBackdropTransfer;
using lvx::backdrop::Rect;

namespace {
constexpr int kFailed = -1;
}  // namespace

extern "C" {

int lv_bitmap_save_and_backdrop(bitmap_record *image, int16_t xs, int16_t ys, int16_t width,
                                int16_t height, const char *fname, const char *path,
                                uint16_t sv_options, int16_t xd, int16_t yd,
                                uint16_t xfer_options) noexcept {
  return guard(kFailed, [&] {
    return lvx::backdrop::bitmap_entry(image, Rect{xs, ys, width, height}, fname, path, sv_options,
                                       xd, yd, xfer_options | kBackdropTransfer);
  });
}

int lv_bitmap_to_backdrop(bitmap_record *image, int16_t xs, int16_t ys, int16_t width,
                          int16_t height, int16_t xd, int16_t yd, uint16_t xfer_options) noexcept {
  return guard(kFailed, [&] {
    return lvx::backdrop::bitmap_entry(image, Rect{xs, ys, width, height}, nullptr, nullptr, 0, xd,
                                       yd, xfer_options | kBackdropTransfer);
  });
}

int lv_bitmap_save(bitmap_record *image, int16_t xs, int16_t ys, int16_t width, int16_t height,
                   const char *fname, const char *path, uint16_t sv_options) noexcept {
  return guard(kFailed, [&] {
    return lvx::backdrop::bitmap_entry(image, Rect{xs, ys, width, height}, fname, path, sv_options,
                                       0, 0, 0);
  });
}

int16_t lv_set_backdrop(const char *fname) noexcept {
  return guard(int16_t{-1}, [&] { return lvx::backdrop::set_backdrop(fname); });
}

}  // extern "C"
