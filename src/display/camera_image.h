// Camera images from the tracker.
#pragma once

#include <cstdint>

namespace lvx {

// Handles an IMAGE_PKT (receive thread, link lock held); returns the bytes used (0: the rest of
// the buffer). Images are not assembled yet.
int handle_image_packet(const uint8_t *p, int remaining);

}  // namespace lvx
