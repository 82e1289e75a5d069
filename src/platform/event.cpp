#include "platform/event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace lvx::platform {

ManualResetEvent::ManualResetEvent() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

ManualResetEvent::~ManualResetEvent() {
  if (fd_ >= 0) close(fd_);
}

// The flag spares the system call when the event is already set. A set racing a reset can leave
// the counter raised with the flag down; that only makes the next wait return early, and the
// reset after it drains the counter again.
void ManualResetEvent::set() {
  if (signalled_.exchange(true)) return;
  uint64_t one = 1;
  while (write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void ManualResetEvent::reset() {
  signalled_.store(false);
  uint64_t value = 0;
  while (read(fd_, &value, sizeof value) < 0 && errno == EINTR) {
  }
}

bool ManualResetEvent::wait_for_ms(int ms) {
  if (signalled_.load()) return true;
  pollfd p{fd_, POLLIN, 0};
  int r;
  do {
    r = poll(&p, 1, ms);
  } while (r < 0 && errno == EINTR);
  return r > 0 || signalled_.load();
}

bool ManualResetEvent::is_set() {
  return signalled_.load();
}

}  // namespace lvx::platform
