// Local clock. All local times count from the zero point: the monotonic clock's value at
// initialisation (base 0), or the monotonic clock's own origin (base 1), which every process on
// the machine shares, so that time stamps from several processes can be compared.
//
// Interface widths: local_ms() is 32 bits wide, as callers expect; it wraps after about 49.7
// days of zero-point time, which with base 1 means machine uptime. When the monotonic clock cannot
// be read the clock stays unset and every local time reads 0.
#include "link/clock.h"
#include "link/log.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "link/tracker_clock.h"
#include "lumavex_core.h"
#include "platform/clock.h"

namespace lvx {
namespace {

// Delay not slept but spun, so that the thread is running when the delay ends.
constexpr int64_t kSpinUsec = 300;
// Wait between setting the zero point and using the clock.
constexpr int32_t kSettleMsec = 20;

double elapsed_usec() {
  const ClockRecord &c = clock_record();
  const double factor = c.usec_per_tick.load(std::memory_order_relaxed);
  if (factor <= 0.0) return 0.0;
  const int64_t ticks = platform::counter_now() - c.zero_ticks.load(std::memory_order_relaxed);
  return ticks > 0 ? static_cast<double>(ticks) * factor : 0.0;
}

// strerror_r comes in two flavours (GNU returns the text, POSIX fills the buffer); accept both.
[[maybe_unused]] const char *error_text_result(const char *text, const char *) {
  return text;
}
[[maybe_unused]] const char *error_text_result(int, const char *buffer) {
  return buffer;
}

void initialise_locked(ClockRecord &c) {
  c.initialised.store(true, std::memory_order_relaxed);

  // Linux offers no call to make the system timer finer, so this only records the resolution the
  // monotonic clock offers. A later initialisation never makes the recorded value coarser.
  const int64_t resolution = platform::timer_resolution_100ns();
  const int64_t stored = c.timer_resolution.load(std::memory_order_relaxed);
  if (stored == 0 || resolution < stored)
    c.timer_resolution.store(resolution, std::memory_order_relaxed);

  const int64_t frequency = platform::counter_frequency();
  if (frequency <= 0) return;  // no counter: leave the clock unset
  c.usec_per_tick.store(1000000.0 / static_cast<double>(frequency), std::memory_order_relaxed);
  const bool machine_local = c.base.load(std::memory_order_relaxed) == QX_CLOCK_BASE_MACHINE_LOCAL;
  c.zero_ticks.store(machine_local ? 0 : platform::counter_now(), std::memory_order_relaxed);

  delay_ms(kSettleMsec);
  // An estimate formed against the old zero point means nothing against the new one.
  tracker_clock_reset();
}

}  // namespace

void clock_initialise(bool force) {
  ClockRecord &c = clock_record();
  std::lock_guard<std::mutex> guard(c.init_mutex);
  if (force || !c.initialised.load(std::memory_order_relaxed)) initialise_locked(c);
}

bool clock_initialised() {
  return clock_record().initialised.load(std::memory_order_relaxed);
}

int64_t clock_timer_resolution_100ns() {
  return clock_record().timer_resolution.load(std::memory_order_relaxed);
}

void timer_sleep_usec(int64_t usec) {
  const int rc = platform::sleep_us(usec);
  if (rc == 0) return;
  char buffer[256] = {};
  const char *text = error_text_result(strerror_r(rc, buffer, sizeof buffer), buffer);
  console_printf("nanosleep: clock_nanosleep failed: (%d) %s\n", rc, text);
}

double local_double_usec() {
  return elapsed_usec();
}

uint64_t local_usec() {
  return static_cast<uint64_t>(elapsed_usec());
}

uint32_t local_ms() {
  return static_cast<uint32_t>(local_usec() / 1000);
}

void delay_ms(int32_t ms) {
  if (ms < 0) return;
  const double start = local_double_usec();
  const int64_t usec = static_cast<int64_t>(ms) * 1000;
  if (clock_record().usec_per_tick.load(std::memory_order_relaxed) <= 0.0) {
    // The clock is unset and reads 0: spinning against it would never end, so only sleep.
    timer_sleep_usec(usec);
    return;
  }
  // Sleep only when the delay is longer than the timer can resolve, and only to within
  // kSpinUsec of the end; spin the rest for precision.
  if (static_cast<int64_t>(ms) * 10000 >
      clock_record().timer_resolution.load(std::memory_order_relaxed))
    timer_sleep_usec(usec - kSpinUsec);
  const double end = start + static_cast<double>(usec);
  while (local_double_usec() < end) {
  }
}

uint64_t zero_time_usec() {
  const ClockRecord &c = clock_record();
  const double factor = c.usec_per_tick.load(std::memory_order_relaxed);
  const int64_t zero = c.zero_ticks.load(std::memory_order_relaxed);
  return static_cast<uint64_t>(static_cast<double>(zero) * factor);
}

void set_clock_base(int32_t base) {
  const int32_t stored = (base < 0 || base > QX_CLOCK_BASE_MACHINE_LOCAL) ? 0 : base;
  clock_record().base.store(stored, std::memory_order_relaxed);
  clock_initialise(true);
}

int32_t clock_base() {
  return clock_record().base.load(std::memory_order_relaxed);
}

}  // namespace lvx
