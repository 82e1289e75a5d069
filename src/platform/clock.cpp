#include "platform/clock.h"

#include <cerrno>
#include <ctime>

namespace lvx::platform {

int64_t counter_now() {
  timespec ts{};
  if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) return 0;
  return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

int64_t counter_frequency() {
  timespec ts{};
  return clock_gettime(CLOCK_MONOTONIC, &ts) == 0 ? 1000000000LL : 0;
}

int64_t timer_resolution_100ns() {
  timespec res{};
  if (clock_getres(CLOCK_MONOTONIC, &res) != 0) return 1;
  int64_t r = (static_cast<int64_t>(res.tv_sec) * 1000000000LL + res.tv_nsec) / 100;
  return r < 1 ? 1 : r;
}

int sleep_us(int64_t us) {
  if (us <= 0) return 0;
  timespec now{};
  if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) return errno;
  int64_t ns = now.tv_nsec + (us % 1000000) * 1000;
  timespec due{};
  due.tv_sec =
      now.tv_sec + static_cast<time_t>(us / 1000000) + static_cast<time_t>(ns / 1000000000);
  due.tv_nsec = static_cast<long>(ns % 1000000000);
  int rc;
  do {
    rc = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
  } while (rc == EINTR);
  return rc;
}

}  // namespace lvx::platform
