// The data queue: one byte ring into which the receive thread appends every data item and from
// which the application takes them. Each stored item is a 16-bit header in host order (the kind
// in bits 12..15, the length in bits 0..11) followed by the item's bytes. When the ring is full
// the oldest items are discarded to make room; the kinds thrown away are collected so that the
// reader can be told that data was lost. Not thread-safe: its owner serialises access.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "common/byte_io.h"

namespace lvx {

// Item kinds, as stored in the header and reported in gap_types.
enum ItemKind : uint16_t {
  ITEM_SAMPLE = 0x8000,
  ITEM_EVENT = 0x4000,
  ITEM_MARKER = 0x2000,
};

// Requests below this many bytes get kRaisedQueueSize.
constexpr uint32_t kSmallestQueueRequest = 1000000;
constexpr uint32_t kRaisedQueueSize = 10000000;
// Items are read out into buffers of this size; longer ones are consumed and reported empty.
constexpr size_t kMaxItemOut = 1024;
// The longest item the 12-bit length field can describe.
constexpr size_t kMaxItemStored = 0x0FFF;

class DataQueue {
 public:
  // Called for each discarded block marker, so that its effects are not lost with it.
  using DiscardedMarker = std::function<void(Bytes marker)>;

  // Allocates `capacity` bytes on first use (and again only for a larger capacity), and writes
  // every page once so that the receive thread never pays for a first touch. Empties the queue.
  bool init(size_t capacity);
  bool ready() const { return capacity_ > 0; }
  size_t capacity() const { return capacity_; }

  // Appends an item; returns the number of items discarded to make room, or -1 when the item can
  // never fit (no buffer, too long for the ring or for the length field).
  int put(Bytes item, uint16_t kind, const DiscardedMarker &on_marker = {});

  struct Item {
    uint16_t kind = 0;
    uint16_t length = 0;
  };
  // Takes the oldest item into out (kMaxItemOut bytes). False when the queue is empty. An item
  // longer than kMaxItemOut is consumed and returned as kind 0, length 0, with *oversized set to
  // its real header. Each successful take moves the discard mask into gap_types().
  bool get(uint8_t *out, Item *item, Item *oversized = nullptr);

  void clear();
  size_t free_space() const;
  uint32_t items() const { return items_; }
  uint32_t samples() const { return samples_; }
  uint32_t events() const { return events_; }
  uint32_t markers() const { return markers_; }

  // Set when an item was discarded; the reader clears it once it has reported the loss.
  bool lost_pending() const { return lost_pending_; }
  void clear_lost_pending() { lost_pending_ = false; }
  // Kinds discarded before the item last taken.
  uint16_t gap_types() const { return gap_types_; }
  // Kinds discarded since the item last taken (what the next take will report).
  uint16_t discarded_kinds() const { return discard_mask_; }
  void clear_gaps() {
    discard_mask_ = 0;
    gap_types_ = 0;
  }

 private:
  void discard_oldest(const DiscardedMarker &on_marker);
  void count(uint16_t kind, int delta);
  bool wrapped() const { return write_ < read_ || (write_ == read_ && items_ > 0); }

  std::unique_ptr<uint8_t[]> buffer_;
  size_t allocated_ = 0;
  size_t capacity_ = 0;
  // Valid data: [read_, write_) when not wrapped; [read_, wrap_) then [0, write_) when wrapped.
  size_t read_ = 0;
  size_t write_ = 0;
  size_t wrap_ = 0;
  uint32_t items_ = 0;
  uint32_t samples_ = 0;
  uint32_t events_ = 0;
  uint32_t markers_ = 0;
  uint16_t discard_mask_ = 0;
  uint16_t gap_types_ = 0;
  bool lost_pending_ = false;
};

}  // namespace lvx
