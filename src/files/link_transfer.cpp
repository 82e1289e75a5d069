#include "files/link_transfer.h"

namespace lvx {

void end_link_file_transfer() {}

int handle_file_packet(const LVXADDR & /*sender*/, Bytes /*packet*/) {
  return 0;
}

}  // namespace lvx
