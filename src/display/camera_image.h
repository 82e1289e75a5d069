// Camera images from the tracker.
#pragma once

#include "common/byte_io.h"
#include "lumavex_core.h"

namespace lvx {

// Handles an IMAGE_PKT (receive thread, link lock held); returns the bytes used (0: the rest of
// the buffer). Images are not assembled yet.
int handle_image_packet(const LVXADDR &sender, Bytes packet);

}  // namespace lvx
