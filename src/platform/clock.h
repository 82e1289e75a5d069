// Monotonic clock and precise sleeping.
#pragma once

#include <cstdint>

namespace lvx::platform {

// Ticks of the monotonic clock (CLOCK_MONOTONIC) counted from the clock's own origin, which is
// the same for every process on the machine.
int64_t counter_now();

// Ticks per second of counter_now(); 0 when the clock cannot be read.
int64_t counter_frequency();

// Finest sleep granularity the system offers, in 100-ns units (at least 1).
int64_t timer_resolution_100ns();

// Sleeps about `us` microseconds (absolute deadline on the monotonic clock, so that signals do
// not shorten it). Returns 0, or an errno value when the sleep failed at once.
int sleep_us(int64_t us);

}  // namespace lvx::platform
