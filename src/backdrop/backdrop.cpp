#include "backdrop/backdrop.h"

#include <string>

#include "backdrop/backdrop_state.h"
#include "backdrop/bmp_upload.h"
#include "backdrop/link_transfer.h"
#include "control/commands.h"
#include "hooks/graphic_hooks.h"
#include "link/link_state.h"
#include "link/log.h"
#include "recording/file_names.h"

namespace lvx::backdrop {

namespace {

constexpr int kUnusable = -1;
constexpr uint32_t kDrawWaitMs = 1000;
constexpr const char *kDefaultName = "tmp_img.bmp";

}  // namespace

std::optional<Rect> save_rect(const ImageView &image, Rect r) {
  if (r.xs == 0 && r.ys == 0 && r.width == 0 && r.height == 0) return std::nullopt;
  if (r.xs < 0 || r.ys < 0 || r.width < 0 || r.height < 0 || r.xs + r.width > image.width ||
      r.ys + r.height > image.height)
    return std::nullopt;
  if (r.width == 0) r.width = image.width - r.xs;
  if (r.height == 0) r.height = image.height - r.ys;
  if (r.width == 0 || r.height == 0) return std::nullopt;
  return r;
}

int save_through(lumavex_write_image_hook writer, bitmap_record *image, const ImageView &view,
                 Rect r, const char *fname, const char *path, int options) {
  if (options == 0 || writer == nullptr) return 0;
  std::string joined;
  const char *file = fname;
  if (path != nullptr && *path != '\0') {
    std::string folder(path);
    if (create_path(folder.data(), 1) < 0) return kUnusable;
    joined = std::string(path) + "/" + (fname != nullptr ? fname : "");
    file = joined.c_str();
  }
  const std::optional<Rect> cut = save_rect(view, r);
  if (!cut) return writer(file, options, image);
  std::optional<Image> part = make_image(cut->width, cut->height, view.depth);
  if (!part) return kUnusable;
  copy_rect(view, cut->xs, cut->ys, cut->width, cut->height, *part);
  bitmap_record record{};
  record.width = part->width;
  record.height = part->height;
  record.pitch = static_cast<int32_t>(part->pitch);
  record.depth = part->depth;
  record.pixels = part->pixels.data();
  record.format = image->format;
  return writer(file, options, &record);
}

int bitmap_entry(bitmap_record *image, Rect r, const char *fname, const char *path,
                 uint16_t sv_options, int xd, int yd, uint16_t xfer_options) {
  if (sv_options == 0 && xfer_options == 0) return 0;
  const std::optional<ImageView> view = view_of(image);
  if (!view) return kUnusable;
  const lumavex_write_image_hook hook = write_image_hook();
  const char *name = fname != nullptr && *fname != '\0' ? fname : kDefaultName;

  if ((sv_options & kSaveAndDraw) != 0) {
    const int saved = save_through(hook, image, *view, r, name, path, sv_options);
    const std::string draw = std::string("draw_image ") + name;
    const int16_t drawn = timed_command(kDrawWaitMs, draw.c_str());
    return drawn != 0 ? drawn : saved;
  }
  const int saved =
      sv_options != 0 ? save_through(hook, image, *view, r, fname, path, sv_options) : 0;
  if (xfer_options == 0) return saved;

  // The file service is tried while at most one upload has failed; after the first failure a
  // link transfer follows every upload, after the second the link alone is used. The upload saves
  // through bitmap_transfer_ftp directly rather than installing it in the write-image hook's slot
  // for the time being: the application's writer stays in place for other threads.
  const bool via_file = (xfer_options & kViaFile) != 0;
  std::atomic<int> &failures = backdrop_state().tcp_failures;
  if (via_file && link_record().host_v5 && failures.load() <= 1) {
    log_printf("Transfer Image via TCP. \n");
    const int uploaded = save_through(bitmap_transfer_ftp, image, *view, r, name, path, kViaFile);
    if (failures.load() == 0) return uploaded;
  }
  if (via_file) log_printf("Transfer Image via UDP. \n");
  const int sent =
      link_transfer(*view, SendRect{r.xs, r.ys, r.width, r.height}, xd, yd, xfer_options);
  return sent != 0 ? sent : saved;
}

int16_t set_backdrop(const char *fname) {
  if (fname == nullptr || *fname == '\0') return -1;
  const std::string draw = std::string("draw_image ") + fname;
  return timed_command(kDrawWaitMs, draw.c_str());
}

}  // namespace lvx::backdrop
