#include "control/control_state.h"

namespace lvx {

void KeyQueue::push(const TrackerKey &k) {
  if (count_ == kKeyQueueSize) {
    read_ = (read_ + 1) % kKeyQueueSize;
    --count_;
  }
  keys_[write_] = k;
  write_ = (write_ + 1) % kKeyQueueSize;
  ++count_;
}

bool KeyQueue::pop(TrackerKey *k) {
  if (count_ == 0) return false;
  *k = keys_[read_];
  read_ = (read_ + 1) % kKeyQueueSize;
  --count_;
  return true;
}

}  // namespace lvx
