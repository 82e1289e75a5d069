// Files sent by the tracker as blocks over the link.
#pragma once

#include "common/byte_io.h"
#include "lumavex_core.h"

namespace lvx {

// Cancels a link file transfer in progress (none can be in progress yet).
void end_link_file_transfer();
// Handles a FILE_PKT (receive thread, link lock held); returns the bytes used (0: the rest of the
// buffer).
int handle_file_packet(const LVXADDR &sender, Bytes packet);

}  // namespace lvx
