#include "display/camera_image.h"

namespace lvx {

int handle_image_packet(const LVXADDR & /*sender*/, Bytes /*packet*/) {
  return 0;
}

}  // namespace lvx
