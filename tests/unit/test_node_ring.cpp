// The node-message ring: order, the first-store reset and overflow reporting.
#include <gtest/gtest.h>

#include <vector>

#include "link/address.h"
#include "link/node_ring.h"

namespace {

LVXADDR node(uint8_t n) {
  return lvx::make_address({127, 0, 0, n}, 4000);
}

TEST(NodeRing, MessagesComeOutInOrderWithTheirSender) {
  lvx::NodeRing ring;
  const uint8_t a[] = {1, 2, 3};
  const uint8_t b[] = {9};
  ASSERT_TRUE(ring.store(node(5), a, 3));
  ASSERT_TRUE(ring.store(node(6), b, 1));
  LVXADDR from{};
  uint8_t data[420] = {};
  EXPECT_EQ(ring.take(&from, data), 3);
  EXPECT_TRUE(lvx::same_node(from, node(5)));
  EXPECT_EQ(data[2], 3);
  EXPECT_EQ(ring.take(&from, data), 1);
  EXPECT_TRUE(lvx::same_node(from, node(6)));
  EXPECT_EQ(ring.take(&from, data), 0);
  EXPECT_EQ(ring.count(), 0);
}

TEST(NodeRing, RefusesEmptyAndOversizedMessages) {
  lvx::NodeRing ring;
  std::vector<uint8_t> big(421, 1);
  EXPECT_FALSE(ring.store(node(1), big.data(), 0));
  EXPECT_FALSE(ring.store(node(1), big.data(), 421));
  EXPECT_TRUE(ring.store(node(1), big.data(), 420));
  EXPECT_EQ(ring.take(nullptr, nullptr), 420);
}

TEST(NodeRing, OverflowOverwritesTheOldestAndReportsNegativeLengths) {
  lvx::NodeRing ring;
  for (int i = 0; i < 258; ++i) {
    uint8_t v = static_cast<uint8_t>(i);
    const uint8_t payload[3] = {v, v, v};
    ASSERT_TRUE(ring.store(node(1), payload, 1 + i % 3));
  }
  EXPECT_EQ(ring.count(), 258);
  // Slots 0 and 1 now hold messages 256 and 257 (lengths 2 and 3). While 256 or more remain
  // counted after a read, the read reports minus the length.
  uint8_t data[420];
  EXPECT_EQ(ring.take(nullptr, data), -2);
  EXPECT_EQ(ring.take(nullptr, data), -3);
  EXPECT_EQ(ring.count(), 256);
  EXPECT_EQ(ring.take(nullptr, data), 3);  // message 2, never overwritten
  EXPECT_EQ(data[0], 2);
}

}  // namespace
