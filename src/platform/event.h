// A manual-reset event: once set it stays set, waking every waiter, until reset.
#pragma once

#include <condition_variable>
#include <mutex>

namespace lvx::platform {

class ManualResetEvent {
 public:
  void set();
  void reset();
  // Waits until the event is set or `ms` milliseconds pass. True when it was set.
  bool wait_for_ms(int ms);
  bool is_set();

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_ = false;
};

}  // namespace lvx::platform
