#include "control/realtime.h"

#include <atomic>
#include <cmath>
#include <map>
#include <mutex>

#include "control/input.h"
#include "data/data_access.h"
#include "link/log.h"
#include "platform/process.h"

namespace lvx {

namespace {

// Real-time range of base priorities.
constexpr int kRealtimeBaseLow = 16;
constexpr int kRealtimeBaseHigh = 31;
// The reserve between these (inclusive) makes the registration usable.
constexpr int kReserveLow = 1;
constexpr int kReserveHigh = 49;
// The settling pumps of begin_realtime on systems of the NT family.
constexpr uint32_t kSettlePumpMs = 20;

bool command_line_has(const char *text) {
  return platform::command_line().find(text) != std::string::npos;
}

// The reserve as the decision reads it: the test override, or the kernel's real-time bandwidth.
int read_reserve() {
  RealtimeState &s = realtime_state();
  {
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.reserve_override) return *s.reserve_override;
  }
  int error_number = 0;
  std::optional<platform::RtBandwidth> b = platform::rt_bandwidth(&error_number);
  if (!b) {
    log_printf("Priority: the real-time bandwidth is unreadable (%d)\n", error_number);
    return -1;
  }
  return reserved_percent(b->runtime_us, b->period_us);
}

bool decide_usable() {
  bool usable = registration_usable(kThisSystem, read_reserve());
  realtime_state().usable = usable ? 1 : 0;
  return usable;
}

bool usable() {
  int cached = realtime_state().usable.load();
  if (cached >= 0) return cached == 1;
  return decide_usable();
}

// Keeps the calling thread's scheduling from before the library's first change (lock held).
void keep_baseline(RealtimeState &s, uint64_t thread) {
  s.baselines.try_emplace(thread, platform::current_thread_schedule());
}

// The high class: the most favourable nice the thread may take (lock held).
bool apply_high_class(RealtimeState &s) {
  keep_baseline(s, platform::current_thread_id());
  int nice = platform::most_favourable_nice();
  bool ok = platform::set_current_thread_nice(nice);
  log_printf("Priority: SCHED_OTHER nice %d for thread %llu: %s\n", nice,
             static_cast<unsigned long long>(platform::current_thread_id()),
             ok ? "set" : "refused");
  return ok;
}

// The normal class: the scheduling from before (lock held). A thread never changed stays as is.
bool apply_normal_class(RealtimeState &s) {
  auto it = s.baselines.find(platform::current_thread_id());
  if (it == s.baselines.end()) return true;
  return platform::restore_current_thread_schedule(it->second);
}

bool apply_fifo(int base_priority) {
  int priority = fifo_priority_for(base_priority, platform::fifo_priority_min(),
                                   platform::fifo_priority_max());
  bool ok = platform::set_current_thread_fifo(priority);
  log_printf("Priority: SCHED_FIFO %d for thread %llu: %s\n", priority,
             static_cast<unsigned long long>(platform::current_thread_id()),
             ok ? "set" : "refused");
  return ok;
}

void log_fallback() {
  if (!command_line_has("pktestrun")) {
    log_printf("displayapi: Failed to set realtime mode switched to high priority mode. \n");
  }
}

// Registers the calling thread (lock held): SCHED_FIFO, or the most favourable nice when that is
// refused; its earlier scheduling goes into the slot. Nothing when it is registered already or
// every slot is taken.
void register_thread(RealtimeState &s, int tag) {
  const uint64_t thread = platform::current_thread_id();
  if (s.table.registered(thread)) return;
  if (!s.table.take(thread, platform::current_thread_schedule())) {
    log_printf("Priority: no registration slot left for thread %llu\n",
               static_cast<unsigned long long>(thread));
    return;
  }
  if (!apply_fifo(kRegisteredBase)) {
    int nice = platform::most_favourable_nice();
    platform::set_current_thread_nice(nice);
    log_fallback();
  }
  log_printf("Priority: thread %llu registered (%d)\n", static_cast<unsigned long long>(thread),
             tag);
}

// Reverts the calling thread's registration (lock held); false when it had none.
bool revert_thread(RealtimeState &s) {
  std::optional<platform::ThreadSchedule> saved = s.table.release(platform::current_thread_id());
  if (!saved) return false;
  return platform::restore_current_thread_schedule(*saved);
}

// Carries a plan out (lock held). False when not even the fallback could be had.
bool apply_plan(RealtimeState &s, const RealtimePlan &plan) {
  if (plan.register_thread) {
    register_thread(s, 0);
    return true;
  }
  if (plan.xp_notice) console_printf("Windows xp realtime class \n");
  switch (plan.priority_class) {
    case PriorityClass::kRealtime:
      keep_baseline(s, platform::current_thread_id());
      if (apply_fifo(kRealtimeClassBase + plan.thread_priority)) return true;
      if (!plan.fall_back_to_high) return true;
      if (!apply_high_class(s)) return false;
      log_fallback();
      return true;
    case PriorityClass::kHigh:
      apply_high_class(s);
      return true;
    case PriorityClass::kNormal:
      apply_normal_class(s);
      return true;
    case PriorityClass::kUnchanged:
      return true;
  }
  return true;
}

// Memory is locked for real-time mode and unlocked when the flag clears (lock held).
void lock_memory(RealtimeState &s) {
  if (s.memory_locked) return;
  switch (platform::lock_process_memory()) {
    case platform::MemoryLock::kLocked:
      s.memory_locked = true;
      log_printf("Real-time mode: process memory locked\n");
      break;
    case platform::MemoryLock::kNotPermitted:
      log_printf(
          "Real-time mode: memory not locked: needs CAP_IPC_LOCK or an unlimited "
          "memlock limit\n");
      break;
    case platform::MemoryLock::kFailed:
      log_printf("Real-time mode: memory lock refused by the system\n");
      break;
    case platform::MemoryLock::kUnsuitable:
      log_printf("Real-time mode: memory not locked under a sanitizer\n");
      break;
  }
}

void unlock_memory(RealtimeState &s) {
  if (!s.memory_locked) return;
  platform::unlock_process_memory();
  s.memory_locked = false;
}

}  // namespace

// ---- Pure pieces ----

RealtimePlan plan_realtime_mode(SystemVersion v, bool registration_is_usable) {
  RealtimePlan p;
  p.settle_reads = v.nt_family;
  if (!v.nt_family) {
    p.priority_class = PriorityClass::kHigh;
    p.thread_priority = kThreadAboveNormal;
    p.settle_reads = false;
  } else if (v.major < 5) {
    p.priority_class = PriorityClass::kRealtime;
    p.thread_priority = kThreadBelowNormal;
  } else if (v.major == 5) {
    p.priority_class = PriorityClass::kRealtime;
    p.thread_priority = kThreadUnderRealtime;
    p.xp_notice = v.minor >= 1;
  } else if (v.minor == 0) {
    p.priority_class = PriorityClass::kRealtime;
    p.thread_priority = kThreadUnderRealtime;
  } else if (registration_is_usable) {
    p.register_thread = true;
  } else {
    p.priority_class = PriorityClass::kRealtime;
    p.thread_priority = kThreadUnderRealtime;
    p.fall_back_to_high = true;
  }
  return p;
}

// The two version numbers are tested apart, as the table does: 10.0 has minor version 0.
bool registration_usable(SystemVersion v, int reserve) {
  if (!v.nt_family || v.major < 6 || v.minor < 1) return false;
  return reserve >= kReserveLow && reserve <= kReserveHigh;
}

int reserved_percent(int64_t runtime_us, int64_t period_us) {
  if (runtime_us < 0) return 0;
  if (period_us <= 0) return -2;
  if (runtime_us >= period_us) return 0;
  return static_cast<int>(std::lround(100.0 - 100.0 * static_cast<double>(runtime_us) /
                                                  static_cast<double>(period_us)));
}

int fifo_priority_for(int base_priority, int fifo_min, int fifo_max) {
  int base = base_priority < kRealtimeBaseLow    ? kRealtimeBaseLow
             : base_priority > kRealtimeBaseHigh ? kRealtimeBaseHigh
                                                 : base_priority;
  int span = (fifo_max - fifo_min) / 2;
  return fifo_min + span * (base - kRealtimeBaseLow) / (kRealtimeBaseHigh - kRealtimeBaseLow);
}

bool host_decides_registration(std::string_view line) {
  auto has = [&](std::string_view t) { return line.find(t) != std::string_view::npos; };
  return has("Protokor.exe") || has("ProtokorW.exe") || (has("pktestrun") && has("script.py"));
}

int RegistrationTable::find(uint64_t thread) const {
  if (thread == 0) return -1;
  for (size_t i = 0; i < kSlots; ++i) {
    if (slots_[i].thread == thread) return static_cast<int>(i);
  }
  return -1;
}

bool RegistrationTable::take(uint64_t thread, const platform::ThreadSchedule &saved) {
  if (thread == 0 || registered(thread)) return false;
  for (Slot &slot : slots_) {
    if (slot.thread == 0) {
      slot.thread = thread;
      slot.saved = saved;
      return true;
    }
  }
  return false;
}

std::optional<platform::ThreadSchedule> RegistrationTable::release(uint64_t thread) {
  int i = find(thread);
  if (i < 0) return std::nullopt;
  Slot &slot = slots_[static_cast<size_t>(i)];
  platform::ThreadSchedule saved = slot.saved;
  slot = Slot{};
  return saved;
}

// ---- The exported behaviour ----

int16_t check_registration() {
  RealtimeState &s = realtime_state();
  s.usable = -1;
  if (!decide_usable()) {
    log_printf("Priority: threads are not registered\n");
    return 0;
  }
  // The scheduler's calls are part of the C library: there is nothing to load or look up.
  log_printf("Priority: threads are registered for %s\n", platform::command_line().c_str());
  std::lock_guard<std::mutex> guard(s.lock);
  s.table.clear();
  return 0;
}

// Decided without a log line: the application has not chosen its log yet, and a first entry of
// the library's own would go into whatever log the environment opens. lumavex_check_mmcss and
// begin_realtime_mode log what they do.
void realtime_setup_at_load() {
  if (!host_decides_registration(platform::command_line())) decide_usable();
}

void begin_realtime(uint32_t delay) {
  RealtimeState &s = realtime_state();
  const RealtimePlan plan = plan_realtime_mode(kThisSystem, usable());
  {
    std::lock_guard<std::mutex> guard(s.lock);
    if (!apply_plan(s, plan)) return;
    lock_memory(s);
  }
  if (plan.settle_reads) {
    pump_for(kSettlePumpMs);
    pump_for(kSettlePumpMs);
    newest_sample(nullptr, SampleForm::Float);
  }
  pump_for(delay);
  s.flag = 1;
}

void end_realtime() {
  RealtimeState &s = realtime_state();
  const bool registration = usable();
  std::lock_guard<std::mutex> guard(s.lock);
  if (registration) {
    revert_thread(s);
  } else if (s.extended != 0) {
    apply_high_class(s);
  } else {
    apply_normal_class(s);
  }
  unlock_memory(s);
  s.flag = 0;
}

int16_t raise_to_high_priority() {
  RealtimeState &s = realtime_state();
  std::lock_guard<std::mutex> guard(s.lock);
  bool ok = apply_high_class(s);
  unlock_memory(s);
  s.flag = 0;
  return ok ? 1 : 0;
}

int16_t drop_to_normal_priority() {
  RealtimeState &s = realtime_state();
  std::lock_guard<std::mutex> guard(s.lock);
  bool ok =
      s.table.registered(platform::current_thread_id()) ? revert_thread(s) : apply_normal_class(s);
  unlock_memory(s);
  s.flag = 0;
  return ok ? 1 : 0;
}

void enable_extended_realtime() {
  realtime_state().extended = 1;
  end_realtime();
}

int32_t realtime_flag() {
  return realtime_state().flag.load();
}

void set_reserve_for_testing(std::optional<int> percent) {
  RealtimeState &s = realtime_state();
  {
    std::lock_guard<std::mutex> guard(s.lock);
    s.reserve_override = percent;
  }
  s.usable = -1;
}

}  // namespace lvx
