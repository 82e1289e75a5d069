#include "display/camera_image.h"

namespace lvx {

int handle_image_packet(const uint8_t * /*p*/, int /*remaining*/) {
  return 0;
}

}  // namespace lvx
