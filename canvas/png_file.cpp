// PNG snapshots of a framebuffer (libpng's simplified interface).
#include <png.h>

#include <cstring>

#include "lumavex_canvas_png.h"

namespace lvxcanvas {

bool save_png(const Framebuffer &picture, const std::string &path, std::string *error) {
  auto fail = [&](const char *why) {
    if (error != nullptr) *error = why;
    return false;
  };
  if (picture.width() <= 0 || picture.height() <= 0) return fail("empty picture");
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(picture.width());
  image.height = static_cast<png_uint_32>(picture.height());
  image.format = PNG_FORMAT_RGBA;
  const int ok = png_image_write_to_file(&image, path.c_str(), 0, picture.pixels().data(),
                                         static_cast<png_int_32>(picture.width() * 4), nullptr);
  if (ok == 0) return fail(image.message[0] != '\0' ? image.message : "cannot write the file");
  return true;
}

}  // namespace lvxcanvas
