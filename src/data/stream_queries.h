// A narrow view of the data stream for the subsystems above it (tracker control): what is
// queued, which blocks are open, the flags of the stream, and the few changes they may make
// (acceptance, reset, taking one item). Each function takes the data stream's own locks, so
// callers never touch them.
#pragma once

#include <cstdint>

namespace lvx {

// Items queued for the reader, counted as the data-stream status reports them: samples only
// while sample acceptance is on, events (with block markers) only while event acceptance is on.
struct QueuedCounts {
  int samples = 0;
  int events = 0;
};
QueuedCounts data_queued_counts();

// Which data blocks the reader is inside, as the block markers taken from the queue left it.
struct OpenBlocks {
  bool samples = false;
  bool events = false;
};
OpenBlocks data_open_blocks();

// The stream's description fields, as the last data packet and block start set them.
struct DataFlags {
  uint16_t sample_data = 0;
  uint16_t event_type = 0;
  uint16_t event_data = 0;
  uint16_t position_prescaler = 0;
  uint16_t packet_flags = 0;  // the flags word of the last data packet (which eyes it carries)
};
DataFlags data_flags();

// Turns the link's acceptance of samples and events on or off.
void set_data_acceptance(bool samples, bool events);

// Resets the data-stream state; `clear` also empties the queue.
void reset_data_stream(bool clear);

// Takes the next item from the queue as the reader would (block markers included), waiting up
// to `wait_rounds` packet waits while the queue is empty; returns its type, 0 when none came.
int take_next_data_item(int wait_rounds);

}  // namespace lvx
