// The command result ring.
#include <gtest/gtest.h>

#include "control/commands.h"

namespace {

// The late-result window (80 serials behind the newest) is checked end to end.
TEST(ResultRing, FilingLookupAndWrap) {
  lvx::ResultRing ring;
  EXPECT_FALSE(ring.seeded());  // an unseeded ring holds nothing
  EXPECT_EQ(ring.lookup(0), NO_REPLY);
  EXPECT_FALSE(ring.file(1, 0));

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

  // After the ring wraps, the oldest serials are gone and the newest is still found.
  for (uint32_t serial = 100; serial < 250; ++serial) ring.push(serial);
  EXPECT_EQ(ring.lookup(149), NO_REPLY);
  EXPECT_TRUE(ring.file(249, 7));
  EXPECT_EQ(ring.lookup(0), 7);
  EXPECT_TRUE(ring.file(170, 2));
  EXPECT_EQ(ring.lookup(170), 2);
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

}  // namespace
