// The data queue between the receive thread and the application. So far it only holds its
// configured size; data packets are taken whole without being queued.
#pragma once

#include <cstdint>

namespace lvx {

// Sets up the queue; requests below 1,000,000 bytes are raised to 10,000,000.
int data_queue_init(uint32_t bytes);
void data_queue_release();
uint32_t data_queue_capacity();
// Resets the data-stream state; a nonzero clear also empties the queue.
void data_reset(int clear);
// Refreshes the data-stream status fields.
void data_status_refresh();
// Handles a DATA_PKT (receive thread, link lock held); returns the bytes used.
int handle_data_packet(const uint8_t *p, int remaining);

}  // namespace lvx
