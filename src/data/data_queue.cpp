#include "data/data_queue.h"

#include <atomic>

namespace lvx {

namespace {
constexpr uint32_t kSmallestRequest = 1000000;
constexpr uint32_t kRaisedSize = 10000000;
std::atomic<uint32_t> g_capacity{0};
}  // namespace

int data_queue_init(uint32_t bytes) {
  g_capacity = bytes < kSmallestRequest ? kRaisedSize : bytes;
  return 0;
}

void data_queue_release() {
  g_capacity = 0;
}

uint32_t data_queue_capacity() {
  return g_capacity;
}

void data_reset(int /*clear*/) {}

void data_status_refresh() {}

// Data packets are taken whole until samples and events are decoded and queued.
int handle_data_packet(const uint8_t * /*p*/, int /*remaining*/) {
  return 0;
}

}  // namespace lvx
