#include "backdrop/bmp_upload.h"

#include <string>

#include "backdrop/backdrop_state.h"
#include "backdrop/bmp_writer.h"
#include "control/commands.h"
#include "files/file_service.h"
#include "link/log.h"

namespace lvx::backdrop {

namespace {
constexpr int kInvalid = -10;
}  // namespace

int bitmap_transfer_ftp(const char *file_name, int /*options*/, void *image) {
  if (file_name == nullptr || *file_name == '\0') {
    console_printf("bitmap_transfer_ftp: invalid filename\n");
    return kInvalid;
  }
  const std::optional<ImageView> view = view_of(static_cast<const bitmap_record *>(image));
  if (!view) return kInvalid;
  const std::string name = upload_name(file_name);
  std::vector<uint8_t> bmp = encode_bmp(*view);
  if (bmp.empty()) return kInvalid;
  log_printf("bitmap_transfer_ftp: bmp_create(%dx%d) bytes=%d\n", view->width, view->height,
             static_cast<int>(bmp.size()));
  const int32_t sent =
      send_memory_to_tracker(bmp.data(), name.c_str(), static_cast<uint32_t>(bmp.size()), nullptr);
  log_printf("bitmap_transfer_ftp: send_data_file_mem(%s) ret=%d\n", name.c_str(), sent);
  if (sent < 0) {
    const int failures = ++backdrop_state().tcp_failures;
    log_printf("File transfer failed. failure count %d \n", failures);
    return sent;
  }
  const std::string draw = "draw_image /lvrx/data/recv/" + name + " 0 0 " +
                           std::to_string(view->width) + " " + std::to_string(view->height);
  return send_command(draw.c_str());
}

}  // namespace lvx::backdrop
