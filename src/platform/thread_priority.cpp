#include "platform/thread_priority.h"

#include <pthread.h>
#include <sched.h>
#include <time.h>

namespace lvx::platform {

bool set_thread_priority(std::thread::native_handle_type thread, int priority) {
  sched_param param{};
  if (priority > 1) {
    // Map 2..15 onto the lower half of the FIFO range: high enough to beat ordinary work,
    // low enough to leave the kernel's own real-time threads alone.
    int lo = sched_get_priority_min(SCHED_FIFO);
    int hi = sched_get_priority_max(SCHED_FIFO);
    int span = (hi - lo) / 2;
    param.sched_priority = lo + (priority >= 15 ? span : span * (priority - 1) / 14);
    if (pthread_setschedparam(thread, SCHED_FIFO, &param) == 0) return true;
  }
  // Normal scheduling for everything else, and as the silent fallback.
  param.sched_priority = 0;
  pthread_setschedparam(thread, SCHED_OTHER, &param);
  return priority <= 1;
}

bool set_current_thread_priority(int priority) {
  return set_thread_priority(pthread_self(), priority);
}

bool pin_current_thread(int cpu) {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (cpu < 0) {
    for (size_t i = 0; i < CPU_SETSIZE; ++i) CPU_SET(i, &set);
  } else if (cpu < CPU_SETSIZE) {
    CPU_SET(static_cast<size_t>(cpu), &set);
  } else {
    return false;
  }
  return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
}

int available_processors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  return CPU_COUNT(&set);
}

double thread_cpu_seconds(std::thread::native_handle_type thread) {
  clockid_t clock;
  if (pthread_getcpuclockid(thread, &clock) != 0) return -1.0;
  timespec ts{};
  if (clock_gettime(clock, &ts) != 0) return -1.0;
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace lvx::platform
