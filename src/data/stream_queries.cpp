#include "data/stream_queries.h"

#include <mutex>

#include "data/data_stream.h"

namespace lvx {

QueuedCounts data_queued_counts() {
  DataStream &d = data_stream();
  data_status_refresh();
  std::lock_guard lock(d.data_lock);
  return {d.status.queued_samples, d.status.queued_events};
}

OpenBlocks data_open_blocks() {
  DataStream &d = data_stream();
  std::lock_guard lock(d.data_lock);
  return {d.status.in_sample_block != 0, d.status.in_event_block != 0};
}

DataFlags data_flags() {
  DataStream &d = data_stream();
  std::lock_guard lock(d.data_lock);
  const link_state &s = d.status;
  return {s.sample_data_flags, s.event_type_flags, s.event_data_flags, s.position_prescaler,
          s.packet_flags};
}

void set_data_acceptance(bool samples, bool events) {
  DataStream &d = data_stream();
  d.samples_on = samples;
  d.events_on = events;
}

void reset_data_stream(bool clear) {
  data_reset(clear ? 1 : 0);
}

// take_next_data_item is defined with the reader it uses, in data_access.cpp.

}  // namespace lvx
