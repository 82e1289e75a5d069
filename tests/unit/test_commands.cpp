// The command result ring and status packet accounting.
#include <gtest/gtest.h>

#include "control/commands.h"
#include "control/status.h"

namespace {

TEST(ResultRing, UnseededRingHoldsNothing) {
  lvx::ResultRing ring;
  EXPECT_FALSE(ring.seeded());
  EXPECT_EQ(ring.lookup(0), NO_REPLY);
  EXPECT_FALSE(ring.file(1, 0));
}

TEST(ResultRing, NewestSlotAndFiling) {
  lvx::ResultRing ring;
  ring.seed();
  EXPECT_EQ(ring.lookup(0), -1);  // a seeded slot reads -1
  ring.push(10);
  ring.push(11);
  EXPECT_EQ(ring.lookup(0), NO_REPLY);
  EXPECT_TRUE(ring.file(10, -3));
  EXPECT_EQ(ring.lookup(10), -3);
  EXPECT_EQ(ring.lookup(11), NO_REPLY);
  EXPECT_TRUE(ring.file(11, 0));
  EXPECT_EQ(ring.lookup(0), 0);
  EXPECT_FALSE(ring.file(12, 0));  // never sent
  EXPECT_EQ(ring.lookup(99), NO_REPLY);
}

TEST(ResultRing, KeepsTheHundredNewestAndDropsResultsOutsideTheWindow) {
  lvx::ResultRing ring;
  ring.seed();
  for (uint32_t s = 1; s <= 150; ++s) ring.push(s);
  EXPECT_EQ(ring.lookup(50), NO_REPLY);
  EXPECT_FALSE(ring.file(50, 0));  // overwritten and far behind
  EXPECT_FALSE(ring.file(69, 0));  // still held, but 81 behind the newest
  EXPECT_EQ(ring.lookup(69), NO_REPLY);
  EXPECT_TRUE(ring.file(70, 5));  // exactly 80 behind
  EXPECT_EQ(ring.lookup(70), 5);
}

TEST(ResultRing, RetractTakesBackAnUnsentCommand) {
  lvx::ResultRing ring;
  ring.seed();
  ring.push(10);
  ASSERT_TRUE(ring.file(10, -2));
  lvx::ResultRing::Slot previous = ring.push(11);
  ring.retract(11, previous);
  EXPECT_EQ(ring.lookup(0), -2);  // the newest is command 10 again
  EXPECT_FALSE(ring.file(11, 0));

  // Once another command follows, the unsent one's slot is only marked unused.
  previous = ring.push(12);
  ring.push(13);
  ring.retract(12, previous);
  EXPECT_FALSE(ring.file(12, 0));
  EXPECT_TRUE(ring.file(13, 4));
  EXPECT_EQ(ring.lookup(0), 4);
}

TEST(StatusPackets, BytesCountedPerType) {
  EXPECT_EQ(lvx::status_packet_size(20, 5), 39);
  EXPECT_EQ(lvx::status_packet_size(22, 0), 34);
  EXPECT_EQ(lvx::status_packet_size(40, 0), 34);
  EXPECT_EQ(lvx::status_packet_size(100, 12), 47);
  EXPECT_EQ(lvx::status_packet_size(103, 0), 35);
  EXPECT_EQ(lvx::status_packet_size(50, 0), 37);
  EXPECT_EQ(lvx::status_packet_size(128, 1), 38);
  EXPECT_EQ(lvx::status_packet_size(150, 0), 37);
  EXPECT_EQ(lvx::status_packet_size(999, 3), 37);
}

}  // namespace
