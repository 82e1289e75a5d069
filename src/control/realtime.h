// Real-time mode: raising the application thread for the time-critical phase of a trial and
// dropping back afterwards, with the memory of the process locked in between.
//
// The decision follows the classic table of the link library: by the system's version, either a
// priority class for the process with a thread priority under it, or a per-thread registration
// with the system's multimedia scheduler, which is used when the system keeps a reserve of
// processor time for ordinary work. It is kept as pure functions (plan_realtime_mode,
// registration_usable) and carried out on Linux as follows:
//
//   real-time class + thread priority p   SCHED_FIFO for the calling thread at the FIFO priority
//                                         of base priority 24 + p (fifo_priority_for)
//   high class (+ above normal)           SCHED_OTHER with the most favourable nice the thread may
//                                         take (the fallback when SCHED_FIFO is refused)
//   normal class (+ normal)               the thread's scheduling from before the library changed
//                                         it
//   per-thread registration               SCHED_FIFO for the calling thread at base priority 26,
//                                         its earlier scheduling kept in one of 10 slots and put
//                                         back when the thread leaves; refused, it falls back to
//                                         the most favourable nice in the same slot
//   the system's reserve                  the kernel's real-time bandwidth: the share of each
//   ("SystemResponsiveness")              period real-time threads may not use, in percent
//                                         (sched_rt_runtime_us of sched_rt_period_us; 5 by
//                                         default, 0 with the limit switched off)
//   the system's version                  kThisSystem, the newest row of the table: Linux
//                                         schedules threads and keeps a reserve
//
// Everything that fails is logged, never alerted: a process without the grants runs the trial
// in the fallback. All functions run on the application thread that calls them; the state is
// process-wide (RealtimeState).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>

#include "platform/realtime.h"

namespace lvx {

enum class PriorityClass { kUnchanged, kNormal, kHigh, kRealtime };

// The system facts the decision reads.
struct SystemVersion {
  bool nt_family = true;
  int major = 0;
  int minor = 0;
};

// What Linux reports to the decision (see the header comment).
inline constexpr SystemVersion kThisSystem{true, 6, 1};

// Thread priority numbers of the plans.
inline constexpr int kThreadAboveNormal = 1;
inline constexpr int kThreadNormal = 0;
inline constexpr int kThreadBelowNormal = -1;
inline constexpr int kThreadUnderRealtime = -7;

// Base priorities: the real-time class's, and that of a registered thread.
inline constexpr int kRealtimeClassBase = 24;
inline constexpr int kRegisteredBase = 26;

struct RealtimePlan {
  PriorityClass priority_class = PriorityClass::kUnchanged;
  int thread_priority = kThreadNormal;
  bool register_thread = false;    // register the calling thread instead of a class
  bool fall_back_to_high = false;  // when the class or thread priority fails: the high class
  bool xp_notice = false;          // prints "Windows xp realtime class \n"
  bool settle_reads = false;       // pumps 20 ms twice and reads the newest sample once
  bool operator==(const RealtimePlan &) const = default;
};

// What begin_realtime_mode does on a system.
RealtimePlan plan_realtime_mode(SystemVersion version, bool registration_is_usable);

// Whether the per-thread registration is used: a version of the newest row and a reserve between
// 1 and 49 percent. `reserve` is the value read, -1 when it could not be opened, -2 when it could
// not be read.
bool registration_usable(SystemVersion version, int reserve);

// The kernel's reserve in percent for a real-time bandwidth (runtime -1: no limit, 0 percent).
int reserved_percent(int64_t runtime_us, int64_t period_us);

// The FIFO priority for a base priority of the real-time range (16..31): 16 the lowest FIFO
// priority, 31 the middle of the range, which is where the receive thread runs.
int fifo_priority_for(int base_priority, int fifo_min, int fifo_max);

// Host programs that decide about the registration themselves: a command line holding
// "Protokor.exe" or "ProtokorW.exe", or both "pktestrun" and "script.py".
bool host_decides_registration(std::string_view command_line);

// The registrations: 10 slots of (thread id, the thread's scheduling before it registered). A
// zero thread id marks a free slot. Pure; guarded by the state's lock.
class RegistrationTable {
 public:
  static constexpr size_t kSlots = 10;
  struct Slot {
    uint64_t thread = 0;
    platform::ThreadSchedule saved;
  };
  bool registered(uint64_t thread) const { return find(thread) >= 0; }
  // Takes a free slot for the thread; false when it has one already or all are taken.
  bool take(uint64_t thread, const platform::ThreadSchedule &saved);
  // Frees the thread's slot and gives what it held; nothing when it had none.
  std::optional<platform::ThreadSchedule> release(uint64_t thread);
  void clear() { slots_ = {}; }

 private:
  int find(uint64_t thread) const;
  std::array<Slot, kSlots> slots_{};
};

// The process-wide state of real-time mode. Written by the application threads that call the
// priority functions; the flags are atomics (the message file reads the real-time flag), the rest
// is guarded by `lock`, which is never held while input is pumped (pumping calls the
// application's hooks).
struct RealtimeState {
  std::mutex lock;
  std::atomic<int32_t> flag{0};
  std::atomic<int32_t> extended{0};
  std::atomic<int> usable{-1};  // -1 not decided yet, 0 no, 1 yes
  RegistrationTable table;
  // Each thread's scheduling from before the library first changed it, for the normal class.
  std::map<uint64_t, platform::ThreadSchedule> baselines;
  bool memory_locked = false;
  std::optional<int> reserve_override;
};
RealtimeState &realtime_state();

// ---- The exported behaviour ----

// The registration set-up of library start: decides anew (without logging), unless the host
// program decides itself (host_decides_registration).
void realtime_setup_at_load();
// Decides about the registration anew and logs it (lumavex_check_mmcss). Returns 0.
int16_t check_registration();
// Raises the calling thread (plan_realtime_mode), locks the process's memory where permitted,
// pumps input for delay ms and sets the real-time flag. When not even the fallback can be had,
// returns at once with the flag clear.
void begin_realtime(uint32_t delay);
// Leaves real-time mode: reverts the calling thread's registration, or drops it to the normal
// class (the high class after enable_extended_realtime); unlocks memory; clears the flag.
void end_realtime();
// The high class for the calling thread; clears the flag. 1 when it took effect, else 0.
int16_t raise_to_high_priority();
// Reverts the calling thread's registration, or puts its earlier scheduling back; clears the
// flag. 1 when it took effect, else 0.
int16_t drop_to_normal_priority();
// Sets the extended flag (leaving real-time mode keeps the high class), then end_realtime().
void enable_extended_realtime();
// The real-time flag: 1 between begin_realtime and the next call that leaves it.
int32_t realtime_flag();

// Tests: the reserve to decide with instead of the kernel's (nothing: read it again); the next
// decision takes it.
void set_reserve_for_testing(std::optional<int> percent);

}  // namespace lvx
