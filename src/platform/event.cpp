#include "platform/event.h"

#include <chrono>

namespace lvx::platform {

void ManualResetEvent::set() {
  {
    std::lock_guard lock(mutex_);
    signalled_ = true;
  }
  cv_.notify_all();
}

void ManualResetEvent::reset() {
  std::lock_guard lock(mutex_);
  signalled_ = false;
}

bool ManualResetEvent::wait_for_ms(int ms) {
  std::unique_lock lock(mutex_);
  return cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return signalled_; });
}

bool ManualResetEvent::is_set() {
  std::lock_guard lock(mutex_);
  return signalled_;
}

}  // namespace lvx::platform
