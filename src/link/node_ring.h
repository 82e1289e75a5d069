// The ring of node messages received from other nodes: 256 entries that never refuse a message;
// once full, the oldest entries are overwritten and reads report the overflow.
#pragma once

#include <array>
#include <cstdint>

#include "lumavex_core.h"

namespace lvx {

class NodeRing {
 public:
  static constexpr int kEntries = 256;
  static constexpr int kMaxPayload = LUMAVEX_MAX_NODE_MESSAGE;

  // Stores one message; a length of 0 or above 420 is dropped (returns false).
  bool store(const LVXADDR &sender, const uint8_t *payload, int length);
  // Takes the oldest message: its length, 0 when none, or minus the length while the ring holds
  // 256 or more (it has overflowed). Null pointers are skipped.
  int take(LVXADDR *sender, void *data);
  int count() const { return count_; }

 private:
  struct Entry {
    int16_t length = 0;
    LVXADDR sender{};
    std::array<uint8_t, kMaxPayload> payload{};
  };
  std::array<Entry, kEntries> entries_{};
  int write_ = -1;
  int read_ = -1;
  int count_ = -1;
};

}  // namespace lvx
