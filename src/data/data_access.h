// The application's side of the data stream: taking items from the queue one by one or in
// batches, in float or double form, and looking at the newest sample. Every function here runs on
// an application thread and returns 0 (or -1 for the newest sample) while dummy mode is on or the
// link system is not open.
#pragma once

#include <cstdint>

#include "lumavex_core.h"

namespace lvx {

// Takes the next item (delivering a pending lost-data record first). Returns its record type, 0
// when nothing is queued. With buf, copies the raw decoded item (last_size bytes) into it.
int get_next_data(void *buf);

// The record last read, in float form (compact records for a scripting host), or in double form.
// Returns its type, 0 when none; takes nothing from the queue. A null buf gives the type only.
int16_t last_record_float(void *buf);
int16_t last_record_double(void *buf);

// Takes up to max items (at most 32767, what the 16-bit result can count) into consecutive slots
// and returns the count; with null slots takes one item and returns its type. take_ does not
// wait; wait_ waits up to `wait` rounds of at most 10 ms while the queue is empty (0 means 20).
// After a batch, the status's gap_types names every kind discarded before any of its records.
int16_t take_float_records(float_data *slots, int max);
int16_t wait_float_records(float_data *slots, int max, int wait);
// As wait_float_records into double slots (each record converted as it is taken); with null
// slots the wait is taken as given (0: none).
int16_t wait_double_records(double_data *slots, int max, int wait);

// The forms of the newest sample: the record cut after aux_data or whole, float or double.
enum class SampleForm { CompactFloat, Float, CompactDouble, Double };

// The newest sample, without touching the queue: 1 a new sample, 0 the same one as the previous
// call, -1 none yet or not ready. A null buf gives the result only.
int16_t newest_sample(void *buf, SampleForm form);
// As newest_sample, but waits once (at most 10 ms) when no new sample is there; wait 0 counts as
// 20, a negative wait does not wait.
int16_t wait_for_newest_sample(void *buf, int wait, SampleForm form);

}  // namespace lvx
