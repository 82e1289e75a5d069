#include "data/velocity_history.h"

#include <cstring>

#include "data/data_stream.h"
#include "data/record_conversion.h"
#include "link/log.h"

namespace lvx {

namespace {

// A rate below this is looked up again; with none to be had, this one is used.
constexpr float kLowestKnownRate = 200.0f;
constexpr float kFallbackRate = 250.0f;

size_t entries(const VelocityHistory &h) {
  return (h.tail + kHistorySlots - h.head) % kHistorySlots;
}

// The rate the last data packet gave, in tenths of a hertz (0 before any).
uint16_t packet_rate_x10() {
  DataStream &d = data_stream();
  std::lock_guard lock(d.data_lock);
  return d.status.sample_rate_x10;
}

// The sample rate for this calculation: the tracker's mode data, else the rate in its data
// packets, else 250 Hz.
//
// The mode data has the rate only once a reader has taken the sample block's start marker from
// the queue. An application that reads only the newest samples never does, and would have its
// velocities worked out at 250 Hz whatever the tracker's rate (a quarter of the truth at
// 1000 Hz); the data packets carry the same rate from the first one on. A rate found is kept
// until the next data reset; the 250 Hz stand-in is not, so that the real rate is taken as soon
// as it is known. Its log line comes once per reset.
float sample_rate(VelocityHistory &h) {
  const float kept = h.sample_rate.load();
  if (kept >= kLowestKnownRate) return kept;
  int16_t known = 0;
  float rate = 0;
  if (read_mode_data(&known, nullptr, nullptr, nullptr) == 0 && known > 0) {
    rate = known;
  } else if (const uint16_t x10 = packet_rate_x10(); x10 >= 10) {
    rate = static_cast<float>(x10 / 10);
  } else {
    if (!h.rate_fallback_logged.exchange(true)) {
      log_printf(
          "lumavex_calculate_velocity_and_acceleration: cannot detect sample rate. Using "
          "250.0\n");
    }
    return kFallbackRate;
  }
  h.sample_rate = rate;
  return rate;
}

// Decodes an item the intake kept (calculation_lock held, history lock not). False when it does
// not decode.
bool decode_item(VelocityHistory &h, Bytes bytes, uint16_t prescaler, float_sample &out) {
  link_state scratch{};
  scratch.position_prescaler = prescaler;
  link_data_item item{};
  float_data sample{};
  if (decode_sample(bytes, h.decoder, scratch, item) != kSampleRecordSize ||
      !to_float(item, scratch, sample)) {
    return false;
  }
  out = sample.fs;
  return true;
}

// The window for a filter type, with the sample rate; false when there is none.
bool prepare(int filter_type, SampleWindow &w) {
  w.rate = sample_rate(velocity_history());
  const size_t length = filter_window(filter_type, w.rate);
  return length != 0 && velocity_window(length, w);
}

void missing(float *v, size_t n) {
  for (size_t i = 0; i < n; ++i) v[i] = kMissingFloat;
}

void copy_centre(const SampleWindow *w, compact_float_sample *out) {
  if (out == nullptr) return;
  if (w == nullptr || !w->present[w->length / 2]) {
    std::memset(out, 0, sizeof *out);
    return;
  }
  std::memcpy(out, &w->centre(), sizeof *out);
}

}  // namespace

void velocity_history_put(Bytes item, uint16_t position_prescaler) {
  VelocityHistory &h = velocity_history();
  if (!h.created.load(std::memory_order_acquire)) return;
  std::lock_guard lock(h.lock);
  if (item.size() > kHistoryItemLimit) {
    // Reported once per reset: a tracker that sends such items sends them all the time.
    if (!h.oversize_reported) console_printf("data too big %d\n", static_cast<int>(item.size()));
    h.oversize_reported = true;
    return;
  }
  HistorySlot &slot = h.slots[h.tail];
  slot.serial = ++h.puts;
  slot.raw = true;
  slot.usable = false;
  slot.length = static_cast<uint16_t>(item.size());
  slot.prescaler = position_prescaler;
  std::memcpy(slot.data.raw, item.data(), item.size());
  h.tail = (h.tail + 1) % kHistorySlots;
  if (h.tail == h.head) h.head = (h.head + 1) % kHistorySlots;
}

void velocity_history_reset() {
  VelocityHistory &h = velocity_history();
  {
    std::lock_guard lock(h.lock);
    h.head = h.tail = 0;
    h.oversize_reported = false;
    h.created.store(true, std::memory_order_release);
  }
  h.sample_rate = -1.0f;
  h.rate_fallback_logged = false;
}

bool velocity_window(size_t length, SampleWindow &w) {
  VelocityHistory &h = velocity_history();
  if (length == 0 || length > kLongestWindow) return false;
  // Decoded entries are copied straight into the window; raw ones (in the steady state only the
  // newest) are taken out to be decoded outside the lock.
  struct Raw {
    size_t window_index;
    size_t slot;
    uint64_t serial;
    uint16_t length;
    uint16_t prescaler;
    uint8_t bytes[kHistoryItemLimit];
  };
  Raw raw[kLongestWindow];  // only the first raw_count are written and read
  size_t raw_count = 0;
  {
    std::lock_guard lock(h.lock);
    const size_t count = entries(h);
    if (count < length) return false;
    for (size_t i = 0; i < length; ++i) {
      const size_t at = (h.head + count - length + i) % kHistorySlots;
      const HistorySlot &slot = h.slots[at];
      if (slot.raw) {
        Raw &r = raw[raw_count++];
        r.window_index = i;
        r.slot = at;
        r.serial = slot.serial;
        r.length = slot.length;
        r.prescaler = slot.prescaler;
        std::memcpy(r.bytes, slot.data.raw, slot.length);
        continue;
      }
      w.present[i] = slot.usable;
      if (slot.usable) w.samples[i] = slot.data.fs;
    }
  }
  for (size_t k = 0; k < raw_count; ++k) {
    const Raw &r = raw[k];
    w.present[r.window_index] =
        decode_item(h, Bytes(r.bytes, r.length), r.prescaler, w.samples[r.window_index]);
  }
  // Keep each decoded sample in its slot, unless the intake has reused the slot meanwhile.
  if (raw_count != 0) {
    std::lock_guard lock(h.lock);
    for (size_t k = 0; k < raw_count; ++k) {
      const Raw &r = raw[k];
      HistorySlot &slot = h.slots[r.slot];
      if (slot.serial != r.serial) continue;
      slot.raw = false;
      slot.usable = w.present[r.window_index];
      if (slot.usable) slot.data.fs = w.samples[r.window_index];
    }
  }
  w.length = length;
  return true;
}

namespace {

// The three compact forms: under the calculation lock, fills each eye's values from the window of
// the history, and the window's centre sample; with no window, the values stay missing.
template <class PerEye>
int16_t per_eye_from_window(int filter_type, compact_float_sample *vel_sample, PerEye per_eye) {
  std::lock_guard lock(velocity_history().calculation_lock);
  SampleWindow w;
  if (!prepare(filter_type, w)) {
    copy_centre(nullptr, vel_sample);
    return 0;
  }
  for (int eye = 0; eye < 2; ++eye) per_eye(w, eye);
  copy_centre(&w, vel_sample);
  return 0;
}

}  // namespace

int16_t calculate_velocity_x_y(int filter_type, float xvel[2], float yvel[2],
                               compact_float_sample *vel_sample) {
  if (xvel == nullptr || yvel == nullptr) return -1;
  missing(xvel, 2);
  missing(yvel, 2);
  return per_eye_from_window(filter_type, vel_sample, [&](const SampleWindow &w, int eye) {
    const Velocity v = window_velocity(w, filter_type, eye, 0);
    xvel[eye] = v.x;
    yvel[eye] = v.y;
  });
}

int16_t calculate_velocity(int filter_type, float vel[2], compact_float_sample *vel_sample) {
  if (vel == nullptr) return -1;
  missing(vel, 2);
  return per_eye_from_window(filter_type, vel_sample, [&](const SampleWindow &w, int eye) {
    vel[eye] = combined_velocity(window_velocity(w, filter_type, eye, 0));
  });
}

int16_t calculate_velocity_and_acceleration(int filter_type, float vel[2], float acc[2],
                                            compact_float_sample *vel_sample) {
  if (vel == nullptr || acc == nullptr) return -1;
  missing(vel, 2);
  missing(acc, 2);
  return per_eye_from_window(filter_type, vel_sample, [&](const SampleWindow &w, int eye) {
    vel[eye] = combined_velocity(window_velocity(w, filter_type, eye, 0));
    acc[eye] = window_acceleration(w, filter_type, eye, 0);
  });
}

int16_t calculate_velocity_and_acceleration_all(int filter_type, float out[18],
                                                float_data *vel_sample) {
  if (out == nullptr) return -1;
  for (int k = 0; k < kPositionKinds; ++k) {
    missing(out + 6 * k, 2);
    missing(out + 6 * k + 3, 2);
  }
  std::lock_guard lock(velocity_history().calculation_lock);
  SampleWindow w;
  const bool ready = prepare(filter_type, w);
  if (vel_sample != nullptr) {
    *vel_sample = float_data{};
    if (ready && w.present[w.length / 2]) vel_sample->fs = w.centre();
  }
  if (!ready) return 0;
  for (int k = 0; k < kPositionKinds; ++k) {
    for (int eye = 0; eye < 2; ++eye) {
      out[6 * k + eye] = combined_velocity(window_velocity(w, filter_type, eye, k));
      out[6 * k + 3 + eye] = window_acceleration(w, filter_type, eye, k);
    }
  }
  return 0;
}

}  // namespace lvx
