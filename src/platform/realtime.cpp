#include "platform/realtime.h"

#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace lvx::platform {

namespace {

// Capability numbers (linux/capability.h).
constexpr int kCapIpcLock = 14;
constexpr int kCapSysNice = 23;

int64_t limit_value(int resource) {
  rlimit l{};
  if (getrlimit(resource, &l) != 0) return 0;
  if (l.rlim_cur == RLIM_INFINITY) return -1;
  return static_cast<int64_t>(l.rlim_cur);
}

// The effective capability set from /proc/self/status.
uint64_t effective_capabilities() {
  uint64_t caps = 0;
  if (FILE *f = std::fopen("/proc/self/status", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, f) != nullptr) {
      if (std::strncmp(line, "CapEff:", 7) == 0) {
        caps = std::strtoull(line + 7, nullptr, 16);
        break;
      }
    }
    std::fclose(f);
  }
  return caps;
}

// Capabilities held inside a user namespace other than the first do not lift the kernel's
// scheduling and memory-lock limits, which are checked against the first one.
bool in_initial_user_namespace() {
  bool initial = false;
  if (FILE *f = std::fopen("/proc/self/uid_map", "r")) {
    unsigned long inside = 1, outside = 1, count = 0;
    initial = std::fscanf(f, "%lu %lu %lu", &inside, &outside, &count) == 3 && inside == 0 &&
              outside == 0 && count == 4294967295UL;
    std::fclose(f);
  }
  return initial;
}

bool read_number(const char *path, int64_t *out, int *error_number) {
  FILE *f = std::fopen(path, "r");
  if (f == nullptr) {
    *error_number = errno;
    return false;
  }
  long long v = 0;
  bool ok = std::fscanf(f, "%lld", &v) == 1;
  std::fclose(f);
  if (!ok) {
    *error_number = EINVAL;
    return false;
  }
  *out = v;
  return true;
}

bool running_under_sanitizer() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
  return true;
#else
  return false;
#endif
#else
  return false;
#endif
}

}  // namespace

uint64_t current_thread_id() {
  return static_cast<uint64_t>(syscall(SYS_gettid));
}

ThreadSchedule current_thread_schedule() {
  ThreadSchedule s;
  sched_param param{};
  if (pthread_getschedparam(pthread_self(), &s.policy, &param) == 0)
    s.priority = param.sched_priority;
  errno = 0;
  int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(current_thread_id()));
  if (errno == 0) s.nice = nice;
  return s;
}

bool restore_current_thread_schedule(const ThreadSchedule &schedule) {
  sched_param param{};
  param.sched_priority = schedule.priority;
  bool ok = pthread_setschedparam(pthread_self(), schedule.policy, &param) == 0;
  if (schedule.policy == SCHED_OTHER || schedule.policy == SCHED_BATCH ||
      schedule.policy == SCHED_IDLE) {
    ok =
        setpriority(PRIO_PROCESS, static_cast<id_t>(current_thread_id()), schedule.nice) == 0 && ok;
  }
  return ok;
}

int fifo_priority_min() {
  return sched_get_priority_min(SCHED_FIFO);
}

int fifo_priority_max() {
  return sched_get_priority_max(SCHED_FIFO);
}

bool set_current_thread_fifo(int priority) {
  sched_param param{};
  int lo = fifo_priority_min();
  int hi = fifo_priority_max();
  param.sched_priority = priority < lo ? lo : priority > hi ? hi : priority;
  return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}

bool set_current_thread_nice(int nice) {
  sched_param param{};
  int policy = 0;
  sched_param now{};
  if (pthread_getschedparam(pthread_self(), &policy, &now) == 0 && policy != SCHED_OTHER &&
      pthread_setschedparam(pthread_self(), SCHED_OTHER, &param) != 0) {
    return false;
  }
  return setpriority(PRIO_PROCESS, static_cast<id_t>(current_thread_id()), nice) == 0;
}

int most_favourable_nice() {
  errno = 0;
  int current = getpriority(PRIO_PROCESS, static_cast<id_t>(current_thread_id()));
  if (errno != 0) current = 0;
  RealtimeGrants g = realtime_grants();
  int best = 0;
  if (g.cap_sys_nice || g.nice_limit < 0) {
    best = -20;
  } else {
    // RLIMIT_NICE r lets the nice value go down to 20 - r.
    best = 20 - static_cast<int>(g.nice_limit > 40 ? 40 : g.nice_limit);
  }
  if (best < -20) best = -20;
  return best < current ? best : current;
}

RealtimeGrants realtime_grants() {
  RealtimeGrants g;
  uint64_t caps = in_initial_user_namespace() ? effective_capabilities() : 0;
  g.cap_sys_nice = (caps >> kCapSysNice & 1) != 0;
  g.cap_ipc_lock = (caps >> kCapIpcLock & 1) != 0;
  g.rtprio_limit = limit_value(RLIMIT_RTPRIO);
  g.memlock_limit = limit_value(RLIMIT_MEMLOCK);
  g.nice_limit = limit_value(RLIMIT_NICE);
  return g;
}

std::optional<RtBandwidth> rt_bandwidth(int *error_number) {
  int unused = 0;
  if (error_number == nullptr) error_number = &unused;
  RtBandwidth b;
  if (!read_number("/proc/sys/kernel/sched_rt_runtime_us", &b.runtime_us, error_number) ||
      !read_number("/proc/sys/kernel/sched_rt_period_us", &b.period_us, error_number)) {
    return std::nullopt;
  }
  return b;
}

MemoryLock lock_process_memory() {
  if (running_under_sanitizer()) return MemoryLock::kUnsuitable;
  RealtimeGrants g = realtime_grants();
  if (!g.cap_ipc_lock && g.memlock_limit >= 0) return MemoryLock::kNotPermitted;
  return mlockall(MCL_CURRENT | MCL_FUTURE) == 0 ? MemoryLock::kLocked : MemoryLock::kFailed;
}

void unlock_process_memory() {
  munlockall();
}

}  // namespace lvx::platform
