// Exported clock functions: the local clock and the tracker-clock estimate.
#include "link/clock.h"
#include "api/guard.h"
#include "link/tracker_clock.h"
#include "lumavex_core.h"

using lvx::api::guard;
using lvx::api::guard_void;

extern "C" {

double current_double_usec(void) noexcept {
  return guard(0.0, [] { return lvx::local_double_usec(); });
}

uint64_t current_usec(void) noexcept {
  return guard(uint64_t{0}, [] { return lvx::local_usec(); });
}

uint32_t current_time(void) noexcept {
  return guard(uint32_t{0}, [] { return lvx::local_ms(); });
}

uint32_t current_micro(MICRO_TIME *m) noexcept {
  return guard(uint32_t{0}, [&] {
    const uint64_t usec = lvx::local_usec();
    const auto msec = static_cast<uint32_t>(usec / 1000);
    if (m != nullptr) {
      m->msec = msec;
      m->usec = static_cast<uint16_t>(usec % 1000);
    }
    return msec;
  });
}

void msec_delay(int32_t ms) noexcept {
  guard_void([&] { lvx::delay_ms(ms); });
}

uint64_t get_zero_time(void) noexcept {
  return guard(uint64_t{0}, [] { return lvx::zero_time_usec(); });
}

void lumavex_set_clock_base(int32_t base) noexcept {
  guard_void([&] { lvx::set_clock_base(base); });
}

int32_t lumavex_get_clock_base(void) noexcept {
  return guard(int32_t{0}, [] { return lvx::clock_base(); });
}

int16_t lumavex_reset_clock(int16_t enable) noexcept {
  return guard(int16_t{0}, [&] {
    if (enable != 0) lvx::clock_initialise(false);
    return int16_t{0};
  });
}

double lumavex_tracker_double_usec(void) noexcept {
  return guard(-1.0, [] { return lvx::tracker_time_usec(); });
}

// The estimate rounded down to whole milliseconds, modulo 2^32. While no tracker time is known
// the estimate is -1.0 us, which rounds down to -1 ms: 0xFFFFFFFF.
uint32_t lumavex_tracker_msec(void) noexcept {
  return guard(uint32_t{0}, [] {
    const double usec = lvx::tracker_time_usec();
    return usec < 0.0 ? UINT32_MAX : lvx::usec_to_msec_u32(usec);
  });
}

double lumavex_double_usec_offset(void) noexcept {
  return guard(-1.0, [] { return lvx::tracker_offset_usec(); });
}

// -0.001 while the offset is unknown.
double lumavex_double_msec_offset(void) noexcept {
  return guard(-0.001, [] { return lvx::tracker_offset_usec() / 1000.0; });
}

// 0 when the offset is negative, which includes the unknown case.
uint32_t lumavex_msec_offset(void) noexcept {
  return guard(uint32_t{0}, [] { return lvx::usec_to_msec_u32(lvx::tracker_offset_usec()); });
}

}  // extern "C"
