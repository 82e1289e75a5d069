#include "relay/slave_outbox.h"

#include <cstring>

namespace lvx {

namespace {

// Room kept from the first backlog on, so that a slave that is briefly slow costs no allocation
// per record.
constexpr size_t kInitialRoom = 64 * 1024;

}  // namespace

SlaveOutbox::SlaveOutbox(size_t max_backlog, uint32_t stall_ms)
    : max_backlog_(max_backlog), stall_ms_(stall_ms) {}

void SlaveOutbox::set_limits(size_t max_backlog, uint32_t stall_ms) {
  max_backlog_ = max_backlog;
  stall_ms_ = stall_ms;
}

void SlaveOutbox::clear() {
  backlog_.clear();
  sent_ = 0;
  progress_ms_ = 0;
}

OutboxResult SlaveOutbox::keep(Bytes head, Bytes body, size_t taken, uint32_t now_ms) {
  const size_t total = head.size() + body.size();
  if (waiting_bytes() + (total - taken) > max_backlog_) return OutboxResult::kBehind;
  if (!pending()) {
    // A new backlog: the slave took something just now, or is at least reachable.
    backlog_.clear();
    sent_ = 0;
    progress_ms_ = now_ms;
    if (backlog_.capacity() < kInitialRoom) backlog_.reserve(kInitialRoom);
  } else if (sent_ > backlog_.size() / 2) {
    backlog_.erase(backlog_.begin(), backlog_.begin() + static_cast<std::ptrdiff_t>(sent_));
    sent_ = 0;
  }
  if (taken < head.size()) {
    backlog_.insert(backlog_.end(), head.begin() + static_cast<std::ptrdiff_t>(taken), head.end());
    taken = 0;
  } else {
    taken -= head.size();
  }
  backlog_.insert(backlog_.end(), body.begin() + static_cast<std::ptrdiff_t>(taken), body.end());
  return OutboxResult::kSent;
}

}  // namespace lvx
