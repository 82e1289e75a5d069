#include "link/node_ring.h"

#include <cstring>

namespace lvx {

bool NodeRing::store(const LVXADDR &sender, const uint8_t *payload, int length) {
  if (length <= 0 || length > kMaxPayload) return false;
  bool first = write_ < 0;
  if (first) {
    entries_ = {};
    write_ = 0;
  }
  Entry &e = entries_[static_cast<size_t>(write_)];
  e.length = static_cast<int16_t>(length);
  e.sender = sender;
  std::memcpy(e.payload.data(), payload, static_cast<size_t>(length));
  write_ = (write_ + 1) % kEntries;
  ++count_;
  if (first) {
    read_ = 0;
    count_ = 1;
  }
  return true;
}

int NodeRing::take(LVXADDR *sender, void *data) {
  if (read_ < 0 || read_ >= kEntries) return 0;
  Entry &e = entries_[static_cast<size_t>(read_)];
  int length = e.length;
  e.length = 0;
  if (length == 0) {
    count_ = 0;
    return 0;
  }
  if (sender) *sender = e.sender;
  if (data) std::memcpy(data, e.payload.data(), static_cast<size_t>(length));
  read_ = (read_ + 1) % kEntries;
  if (count_ >= 0) --count_;
  return count_ >= kEntries ? -length : length;
}

}  // namespace lvx
