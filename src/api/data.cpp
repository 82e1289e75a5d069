// Exported data-stream functions: reading items and records, the newest sample, the data-stream
// status, reset and delivery switches, mode data and the data-ready callback.
#include "api/guard.h"
#include "data/data_access.h"
#include "data/data_stream.h"
#include "lumavex_core.h"

using lvx::SampleForm;
using lvx::api::guard;

extern "C" {

int lumavex_get_next_data(void *buf) noexcept {
  return guard(0, [&] { return lvx::get_next_data(buf); });
}

int16_t lumavex_get_float_data(void *buf) noexcept {
  return guard(int16_t{0}, [&] { return lvx::last_record_float(buf); });
}

int16_t lumavex_get_double_data(void *buf) noexcept {
  return guard(int16_t{0}, [&] { return lvx::last_record_double(buf); });
}

int16_t lumavex_get_all_float_data(void *buf, int max) noexcept {
  return guard(int16_t{0},
               [&] { return lvx::take_float_records(static_cast<float_data *>(buf), max); });
}

int16_t lumavex_wait_for_next_data(void *buf, int max, int wait) noexcept {
  return guard(int16_t{0},
               [&] { return lvx::wait_float_records(static_cast<float_data *>(buf), max, wait); });
}

int16_t lumavex_wait_for_next_double_data(void *buf, int max, int wait) noexcept {
  return guard(int16_t{0}, [&] {
    return lvx::wait_double_records(static_cast<double_data *>(buf), max, wait);
  });
}

int16_t lumavex_newest_float_sample(void *buf) noexcept {
  return guard(int16_t{-1}, [&] { return lvx::newest_sample(buf, SampleForm::CompactFloat); });
}

int16_t lumavex_newest_float_sample2(void *buf) noexcept {
  return guard(int16_t{-1}, [&] { return lvx::newest_sample(buf, SampleForm::Float); });
}

int16_t lumavex_newest_double_sample(void *buf) noexcept {
  return guard(int16_t{-1}, [&] { return lvx::newest_sample(buf, SampleForm::CompactDouble); });
}

int16_t lumavex_newest_double_sample2(void *buf) noexcept {
  return guard(int16_t{-1}, [&] { return lvx::newest_sample(buf, SampleForm::Double); });
}

int16_t lumavex_wait_for_new_float_sample(void *buf, int wait) noexcept {
  return guard(int16_t{-1},
               [&] { return lvx::wait_for_newest_sample(buf, wait, SampleForm::CompactFloat); });
}

int16_t lumavex_wait_for_new_float_sample2(void *buf, int wait) noexcept {
  return guard(int16_t{-1},
               [&] { return lvx::wait_for_newest_sample(buf, wait, SampleForm::Float); });
}

int16_t lumavex_wait_for_new_double_sample(void *buf, int wait) noexcept {
  return guard(int16_t{-1},
               [&] { return lvx::wait_for_newest_sample(buf, wait, SampleForm::CompactDouble); });
}

int16_t lumavex_wait_for_new_double_sample2(void *buf, int wait) noexcept {
  return guard(int16_t{-1},
               [&] { return lvx::wait_for_newest_sample(buf, wait, SampleForm::Double); });
}

link_state *lumavex_data_status(void) noexcept {
  return guard(static_cast<link_state *>(nullptr), [] { return lvx::data_status_snapshot(); });
}

int16_t lumavex_reset_data(int16_t clear) noexcept {
  return guard(int16_t{0}, [&] {
    lvx::data_reset(clear);
    return int16_t{0};
  });
}

int16_t lumavex_data_switch(uint16_t flags) noexcept {
  return guard(int16_t{0}, [&] {
    lvx::data_switch(flags);
    return int16_t{0};
  });
}

int16_t lumavex_mode_data(int16_t *rate, int16_t *mode_hi, int16_t *mode_mid,
                          int16_t *mode_lo) noexcept {
  return guard(int16_t{-1}, [&] { return lvx::read_mode_data(rate, mode_hi, mode_mid, mode_lo); });
}

int16_t lumavex2_mode_data(int16_t *rate, int16_t *mode_hi, int16_t *mode_mid,
                           int16_t *mode_lo) noexcept {
  return guard(int16_t{-1}, [&] { return lvx::read_mode_data(rate, mode_hi, mode_mid, mode_lo); });
}

int16_t lumavex_set_data_ready_notify(lumavex_data_ready_callback callback) noexcept {
  return guard(int16_t{0}, [&] {
    lvx::set_data_ready_callback(callback);
    return int16_t{0};
  });
}

lumavex_data_ready_callback lumavex_get_data_ready_notify(void) noexcept {
  return guard(lumavex_data_ready_callback{nullptr}, [] { return lvx::data_ready_callback(); });
}

}  // extern "C"
