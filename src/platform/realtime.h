// The operating system's side of real-time mode: the calling thread's scheduling (SCHED_FIFO, or
// SCHED_OTHER with a nice value), locking the process's memory, and the facts that decide what the
// process may take (its limits and capabilities, the kernel's real-time bandwidth).
//
// Linux schedules threads, not processes: a policy or nice value set here applies to the calling
// thread only (setpriority on the thread's own id), which is what the library wants for the
// application thread that runs a trial.
#pragma once

#include <cstdint>
#include <optional>

namespace lvx::platform {

// A thread's scheduling as it stands, to be put back later.
struct ThreadSchedule {
  int policy = 0;    // SCHED_OTHER, SCHED_FIFO, ...
  int priority = 0;  // the real-time priority (0 outside the real-time policies)
  int nice = 0;
};

ThreadSchedule current_thread_schedule();
// Puts a saved scheduling back; false when the system refused any part of it.
bool restore_current_thread_schedule(const ThreadSchedule &schedule);

// The range of SCHED_FIFO priorities.
int fifo_priority_min();
int fifo_priority_max();
// SCHED_FIFO at `priority` (clamped into the range) for the calling thread. False, with the thread
// left as it was, when the process may not take it.
bool set_current_thread_fifo(int priority);
// SCHED_OTHER with `nice` (-20..19) for the calling thread. False when refused.
bool set_current_thread_nice(int nice);
// The most favourable (lowest) nice value the calling thread may take: -20 with CAP_SYS_NICE or an
// unlimited RLIMIT_NICE, else 20 - RLIMIT_NICE, but never worse than the thread's current nice.
int most_favourable_nice();
// The calling thread's id (gettid).
uint64_t current_thread_id();

// What the process has been granted for real-time work.
struct RealtimeGrants {
  bool cap_sys_nice = false;  // may take any scheduling policy and nice value
  bool cap_ipc_lock = false;  // may lock any amount of memory
  int64_t rtprio_limit = 0;   // RLIMIT_RTPRIO (soft); -1 unlimited
  int64_t memlock_limit = 0;  // RLIMIT_MEMLOCK (soft) in bytes; -1 unlimited
  int64_t nice_limit = 0;     // RLIMIT_NICE (soft); -1 unlimited
};
RealtimeGrants realtime_grants();

// The kernel's real-time bandwidth (/proc/sys/kernel/sched_rt_runtime_us and sched_rt_period_us):
// real-time threads may use runtime_us of every period_us; a runtime of -1 means no limit.
// Nothing when the files cannot be read; *error_number then holds the reason (errno).
struct RtBandwidth {
  int64_t runtime_us = 0;
  int64_t period_us = 0;
};
std::optional<RtBandwidth> rt_bandwidth(int *error_number);

// Locking every page of the process into memory (now and from now on), so that no page fault can
// stall a time-critical phase.
enum class MemoryLock {
  kLocked,        // mlockall(MCL_CURRENT | MCL_FUTURE) took effect
  kNotPermitted,  // neither CAP_IPC_LOCK nor an unlimited RLIMIT_MEMLOCK: not attempted, since
                  // a lock under a finite limit would make later allocations fail
  kFailed,        // attempted and refused
  kUnsuitable,    // a sanitizer build, whose shadow memory must not be locked
};
MemoryLock lock_process_memory();
void unlock_process_memory();

}  // namespace lvx::platform
