// A manual-reset event: once set it stays set, waking every waiter, until reset.
//
// It is built on an eventfd rather than a condition variable. The kernel wakes a thread that
// waits on a file descriptor with a hint that the waker is about to sleep, so the woken thread
// can run on the waker's processor at once; a futex wake-up instead goes to the sleeper's own,
// often idle, processor and costs tens of microseconds more on virtual machines. The receive
// thread sets this event after every datagram, so the hand-over is on the path of every command
// round trip.
#pragma once

#include <atomic>

namespace lvx::platform {

class ManualResetEvent {
 public:
  ManualResetEvent();
  ~ManualResetEvent();
  ManualResetEvent(const ManualResetEvent &) = delete;
  ManualResetEvent &operator=(const ManualResetEvent &) = delete;

  void set();
  void reset();
  // Waits until the event is set or `ms` milliseconds pass. True when it was set.
  bool wait_for_ms(int ms);
  bool is_set();

 private:
  int fd_ = -1;
  std::atomic<bool> signalled_{false};
};

}  // namespace lvx::platform
