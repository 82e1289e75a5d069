#include "files/link_transfer.h"

namespace lvx {

void end_link_file_transfer() {}

int handle_file_packet(const uint8_t * /*p*/, int /*remaining*/) {
  return 0;
}

}  // namespace lvx
