// The library's local clock: times counted from a zero point on the monotonic clock, and a
// precise delay. The exported functions (current_time, current_usec, current_double_usec,
// current_micro, msec_delay, get_zero_time, lumavex_set_clock_base, lumavex_get_clock_base,
// lumavex_reset_clock) are declared in lumavex_core.h; every module reads the time through them.
#pragma once

#include <cstdint>

namespace lvx {

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

// Defined beside the library-load work; the clock calls it so that static links keep that work.
void library_load_anchor();

}  // namespace lvx
