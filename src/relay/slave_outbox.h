// What a relay master has sent one slave that the slave's socket has not yet taken. Sends never
// wait: what the socket has no room for waits here, in order, and goes first at the next send or
// when the socket has room again. A slave that lets too much pile up, or takes nothing for too
// long while something waits, has fallen behind for good and is to be dropped; the master's own
// data never waits for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/byte_io.h"
#include "platform/net.h"

namespace lvx {

enum class OutboxResult {
  kSent,    // all of it went, or what did not waits in the backlog
  kBehind,  // the backlog would pass its bound: the slave has fallen too far behind
  kBroken,  // the socket failed (the slave has gone)
};

class SlaveOutbox {
 public:
  // A slave may leave at most this many bytes waiting...
  static constexpr size_t kDefaultMaxBacklog = 4 * 1024 * 1024;
  // ...and take nothing for at most this long while something waits.
  static constexpr uint32_t kDefaultStallMs = 5000;

  explicit SlaveOutbox(size_t max_backlog = kDefaultMaxBacklog,
                       uint32_t stall_ms = kDefaultStallMs);

  void set_limits(size_t max_backlog, uint32_t stall_ms);
  void clear();

  // Sends a record made of `head` and `body` through send(first, first_size, second,
  // second_size), which returns the bytes the socket took or minus a socket error number (the
  // would-block one when it took nothing). Whatever waits already goes first.
  template <typename Send>
  OutboxResult offer(Bytes head, Bytes body, uint32_t now_ms, Send &&send) {
    OutboxResult r = flush(now_ms, send);
    if (r != OutboxResult::kSent) return r;
    size_t taken = 0;
    if (!pending()) {
      int n = send(head.data(), head.size(), body.data(), body.size());
      if (n < 0 && n != -would_block_) return OutboxResult::kBroken;
      taken = n > 0 ? static_cast<size_t>(n) : 0;
      if (taken == head.size() + body.size()) return OutboxResult::kSent;
    }
    return keep(head, body, taken, now_ms);
  }

  // Sends what waits, as far as the socket takes it.
  template <typename Send>
  OutboxResult flush(uint32_t now_ms, Send &&send) {
    while (pending()) {
      int n = send(backlog_.data() + sent_, backlog_.size() - sent_, nullptr, size_t{0});
      if (n == -would_block_ || n == 0) return OutboxResult::kSent;
      if (n < 0) return OutboxResult::kBroken;
      sent_ += static_cast<size_t>(n);
      progress_ms_ = now_ms;
    }
    backlog_.clear();
    sent_ = 0;
    return OutboxResult::kSent;
  }

  bool pending() const { return sent_ < backlog_.size(); }
  size_t waiting_bytes() const { return backlog_.size() - sent_; }
  // True when something has waited and nothing was taken for the stall time.
  bool stalled(uint32_t now_ms) const { return pending() && now_ms - progress_ms_ >= stall_ms_; }
  // Milliseconds since the slave last took anything while something waited.
  uint32_t stalled_for(uint32_t now_ms) const { return pending() ? now_ms - progress_ms_ : 0; }

 private:
  // Puts the untaken rest of head + body after what waits.
  OutboxResult keep(Bytes head, Bytes body, size_t taken, uint32_t now_ms);

  static constexpr int would_block_ = platform::kSockWouldBlock;
  std::vector<uint8_t> backlog_;
  size_t sent_ = 0;  // bytes of the backlog already taken
  uint32_t progress_ms_ = 0;
  size_t max_backlog_;
  uint32_t stall_ms_;
};

}  // namespace lvx
