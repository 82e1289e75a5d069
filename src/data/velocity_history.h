// The velocity history: the last samples that arrived, kept apart from the data queue for the
// velocity and acceleration calculations, and those calculations as the exported functions run
// them.
//
// The receive thread's DATA_PKT intake copies each sample item it takes into the history, under
// the history's own lock and nothing more: items are decoded on the calculating side, each the
// first time a window takes it, and the decoded sample is kept in its slot for later windows.
// Reading samples from the queue does not consume them here. A data reset with clear empties
// the history (the first one makes it), and the sample rate is looked up again at the next
// calculation.
//
// Locks: `lock` guards the ring; the intake takes it under the data stream's data_lock, a
// calculation alone (it is a leaf). `calculation_lock` lets one calculation run at a time, for
// the decoder state; it is taken before `lock`, and is never held by the receive thread.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "common/byte_io.h"
#include "data/item_decoder.h"
#include "data/velocity.h"
#include "lumavex_core.h"

namespace lvx {

// 49 slots, at most 48 entries: a new entry in a full ring replaces the oldest.
constexpr size_t kHistorySlots = 49;
// Longer sample items are not kept.
constexpr size_t kHistoryItemLimit = 252;

struct HistorySlot {
  uint64_t serial = 0;     // the put that filled it, counted from 1 across resets
  bool raw = false;        // item bytes in `data`, not yet decoded
  bool usable = false;     // decoded: the sample in `data.fs` decoded
  uint16_t length = 0;     // item bytes
  uint16_t prescaler = 0;  // the position prescaler of the packet that brought it
  float_data data{};       // the item bytes while raw, then the decoded sample
};

struct VelocityHistory {
  std::mutex lock;
  std::atomic<bool> created{false};  // set by the first data reset with clear
  std::array<HistorySlot, kHistorySlots> slots{};
  size_t head = 0;  // the oldest entry
  size_t tail = 0;  // where the next entry goes
  uint64_t puts = 0;
  bool oversize_reported = false;  // once per reset

  // Samples per second; below 200 it is looked up (again) at the next calculation.
  std::atomic<float> sample_rate{-1.0f};
  std::atomic<bool> rate_fallback_logged{false};  // once per reset

  std::mutex calculation_lock;
  DecoderState decoder;  // the calculations' own: delta-coded times count from their last sample
};

// The process-wide history (built on first use, never destroyed).
VelocityHistory &velocity_history();

// The intake's hand-over of one sample item (receive thread, data_lock held).
void velocity_history_put(Bytes item, uint16_t position_prescaler);
// Empties the history, creating it the first time, and forgets the sample rate.
void velocity_history_reset();

// The window of the newest `length` entries, decoded (calculation_lock held). False when the
// history holds fewer.
bool velocity_window(size_t length, SampleWindow &w);

// The exported calculations. Every output they cannot compute is MISSING_VALUE, and the centre
// sample (vel_sample, which may be null) is all zero when no window could be had. -1 for a null
// output array, else 0.
int16_t calculate_velocity_x_y(int filter_type, float xvel[2], float yvel[2],
                               compact_float_sample *vel_sample);
int16_t calculate_velocity(int filter_type, float vel[2], compact_float_sample *vel_sample);
int16_t calculate_velocity_and_acceleration(int filter_type, float vel[2], float acc[2],
                                            compact_float_sample *vel_sample);
int16_t calculate_velocity_and_acceleration_all(int filter_type, float out[18],
                                                float_data *vel_sample);

}  // namespace lvx
