#include "data/data_queue.h"

#include <cstring>

namespace lvx {

namespace {

// The stored header: the kind in bits 12..15, the length in bits 0..11.
constexpr size_t kHeader = 2;
constexpr uint16_t kKindBits = 0xF000;
constexpr uint16_t kLengthBits = kMaxItemStored;

uint16_t read_header(const uint8_t *at) {
  uint16_t h;
  std::memcpy(&h, at, sizeof h);
  return h;
}

}  // namespace

bool DataQueue::init(size_t capacity) {
  if (capacity < kHeader + 1) return false;
  if (capacity > allocated_) {
    std::unique_ptr<uint8_t[]> fresh(new (std::nothrow) uint8_t[capacity]);
    if (!fresh) return false;
    // Writing every page now moves the cost of first touching it (about 10 us a page) out of
    // the receive thread's path.
    std::memset(fresh.get(), 0, capacity);
    buffer_ = std::move(fresh);
    allocated_ = capacity;
  }
  capacity_ = capacity;
  clear();
  discard_mask_ = 0;
  gap_types_ = 0;
  lost_pending_ = false;
  return true;
}

void DataQueue::clear() {
  read_ = write_ = wrap_ = 0;
  items_ = samples_ = events_ = markers_ = 0;
}

void DataQueue::count(uint16_t kind, int delta) {
  auto step = [delta](uint32_t &n) { n = static_cast<uint32_t>(static_cast<int64_t>(n) + delta); };
  step(items_);
  if (kind == ITEM_SAMPLE) step(samples_);
  if (kind == ITEM_EVENT) step(events_);
  if (kind == ITEM_MARKER) step(markers_);
}

void DataQueue::discard_oldest(const DiscardedMarker &on_marker) {
  if (items_ == 0) return;
  if (wrapped() && read_ >= wrap_) read_ = 0;
  uint16_t h = read_header(buffer_.get() + read_);
  auto kind = static_cast<uint16_t>(h & kKindBits);
  size_t length = h & kLengthBits;
  if (kind == ITEM_MARKER && on_marker) on_marker(Bytes(buffer_.get() + read_ + kHeader, length));
  read_ += kHeader + length;
  count(kind, -1);
  lost_pending_ = true;
  discard_mask_ = static_cast<uint16_t>(discard_mask_ | kind);
  if (items_ == 0) {
    clear();
  } else if (read_ == wrap_ && write_ < read_) {
    read_ = 0;
  }
}

int DataQueue::put(Bytes item, uint16_t kind, const DiscardedMarker &on_marker) {
  const size_t length = item.size();
  if (!ready() || length > kMaxItemStored || length + kHeader + 1 > capacity_) return -1;
  const size_t need = length + kHeader;
  int discarded = 0;
  while (true) {
    if (items_ == 0) clear();
    if (!wrapped()) {
      // Room before the end of the buffer, keeping one byte free so that a full ring is never
      // mistaken for an empty one.
      if (write_ + need < capacity_) break;
      // Wrap: valid data now ends where writing stopped.
      wrap_ = write_;
      write_ = 0;
      while (items_ > 0 && need >= read_) {
        discard_oldest(on_marker);
        ++discarded;
        if (items_ == 0) break;
      }
      if (items_ == 0) clear();
      continue;
    }
    if (write_ + need < read_) break;
    discard_oldest(on_marker);
    ++discarded;
  }
  uint16_t h = static_cast<uint16_t>(kind | length);
  std::memcpy(buffer_.get() + write_, &h, sizeof h);
  if (length > 0) std::memcpy(buffer_.get() + write_ + kHeader, item.data(), length);
  write_ += need;
  if (!wrapped()) wrap_ = write_;
  count(kind, +1);
  return discarded;
}

bool DataQueue::get(uint8_t *out, Item *item, Item *oversized) {
  if (!ready() || items_ == 0) return false;
  if (wrapped() && read_ >= wrap_) read_ = 0;
  uint16_t h = read_header(buffer_.get() + read_);
  Item taken{static_cast<uint16_t>(h & kKindBits), static_cast<uint16_t>(h & kLengthBits)};
  const uint8_t *data = buffer_.get() + read_ + kHeader;
  read_ += kHeader + taken.length;
  count(taken.kind, -1);
  if (taken.length > kMaxItemOut) {
    if (oversized != nullptr) *oversized = taken;
    *item = Item{};
  } else {
    if (taken.length > 0) std::memcpy(out, data, taken.length);
    *item = taken;
  }
  if (items_ == 0) {
    clear();
  } else if (write_ < read_ && read_ >= wrap_) {
    read_ = 0;
  }
  gap_types_ = discard_mask_;
  discard_mask_ = 0;
  return true;
}

size_t DataQueue::free_space() const {
  if (items_ == 0) return capacity_;
  if (!wrapped()) return capacity_ - (write_ - read_);
  return (read_ < wrap_ ? read_ : capacity_) - write_;
}

}  // namespace lvx
