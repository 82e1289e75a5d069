// The library's local clock: times counted from a zero point on the monotonic clock, and a
// precise delay. Every module reads the time through these functions; the exported clock
// functions are thin wrappers over them.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace lvx {

// The clock's process-wide record: values set at initialisation and read by every clock call
// from any thread. Relaxed atomics keep a re-initialisation (lumavex_set_clock_base) while other
// threads read the clock free of data races; such readers may see one value old and one new for
// an instant, which is the price of not locking the hot path. `init_mutex` serialises
// initialisations against one another (not against readers).
struct ClockRecord {
  std::atomic<bool> initialised{false};
  std::atomic<int32_t> base{0};
  std::atomic<double> usec_per_tick{0.0};  // 0: the clock is unset, times read 0
  std::atomic<int64_t> zero_ticks{0};
  std::atomic<int64_t> timer_resolution{0};
  std::mutex init_mutex;
};

ClockRecord &clock_record();

// Initialises the local clock: sets the zero point for the stored clock base, waits 20 ms and
// resets the tracker-clock estimate. Without `force` this happens only the first time in the
// process.
void clock_initialise(bool force);

// True once the clock has been initialised in this process.
bool clock_initialised();

// The finest timer resolution recorded at initialisation, in 100-ns units (0 before).
int64_t clock_timer_resolution_100ns();

// Sleeps about `usec` microseconds on the system timer. A failing sleep prints the reason to
// standard output and returns at once.
void timer_sleep_usec(int64_t usec);

// Local time since the zero point: microseconds with a fraction, whole microseconds, and whole
// milliseconds (truncated, reduced modulo 2^32). All read 0 while the clock is unset.
double local_double_usec();
uint64_t local_usec();
uint32_t local_ms();

// Waits `ms` milliseconds: sleeps while the timer can resolve the rest, then spins, so that the
// thread is running when the delay ends. Negative values return at once.
void delay_ms(int32_t ms);

// The zero point in microseconds of the monotonic clock.
uint64_t zero_time_usec();

// Stores the clock base (0, or 1 for the machine-wide origin; anything else is 0) and
// re-initialises the clock.
void set_clock_base(int32_t base);
int32_t clock_base();

}  // namespace lvx
