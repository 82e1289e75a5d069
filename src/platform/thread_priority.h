// Thread priorities given as the Windows thread priority numbers the library's options use:
// 15 time critical, 2 highest, 1 above normal, 0 normal, -1 below normal, -2 lowest, -15 idle.
#pragma once

#include <thread>

namespace lvx::platform {

// Applies the priority to a thread. Priorities above 1 ask for a real-time policy (SCHED_FIFO),
// which an unprivileged process may not get; the thread then carries on at normal priority and
// the failure is not reported. Returns true when the requested policy took effect.
bool set_thread_priority(std::thread::native_handle_type thread, int priority);

// The same for the calling thread.
bool set_current_thread_priority(int priority);

// Keeps the calling thread, and the threads it starts from now on, on one processor (numbered
// from 0); a negative number lets it run anywhere again. False when the processor does not exist.
bool pin_current_thread(int cpu);

// The number of processors this process may run on.
int available_processors();

// CPU time in seconds that a thread of this process has used so far (user and system time);
// negative when the thread's clock cannot be read.
double thread_cpu_seconds(std::thread::native_handle_type thread);

}  // namespace lvx::platform
