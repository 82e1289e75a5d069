// The data queue: order, wrap-around, discarding the oldest items, counters, free space, lost-data
// reporting and items too long to read out.
#include <gtest/gtest.h>

#include <vector>

#include "data/data_queue.h"

namespace {

using lvx::DataQueue;

std::vector<uint8_t> item_of(uint8_t tag, size_t length) {
  return std::vector<uint8_t>(length, tag);
}

// Takes one item; returns its first byte (its tag), or -1 when empty.
int take(DataQueue &q, DataQueue::Item *out = nullptr) {
  uint8_t buf[lvx::kMaxItemOut];
  DataQueue::Item item;
  if (!q.get(buf, &item)) return -1;
  if (out != nullptr) *out = item;
  return item.length > 0 ? buf[0] : 0;
}

TEST(DataQueue, KeepsOrderCountsKindsAndEmptiesOnInit) {
  DataQueue q;
  ASSERT_TRUE(q.init(1000));
  EXPECT_EQ(q.free_space(), 1000u);
  auto a = item_of(1, 10), b = item_of(2, 20), c = item_of(3, 30);
  EXPECT_EQ(q.put(a, lvx::ITEM_SAMPLE), 0);
  EXPECT_EQ(q.put(b, lvx::ITEM_EVENT), 0);
  EXPECT_EQ(q.put(c, lvx::ITEM_MARKER), 0);
  EXPECT_EQ(q.items(), 3u);
  EXPECT_EQ(q.samples(), 1u);
  EXPECT_EQ(q.events(), 1u);
  EXPECT_EQ(q.markers(), 1u);
  EXPECT_EQ(q.free_space(), 1000u - 66u);
  DataQueue::Item item;
  EXPECT_EQ(take(q, &item), 1);
  EXPECT_EQ(item.kind, lvx::ITEM_SAMPLE);
  EXPECT_EQ(item.length, 10);
  EXPECT_EQ(take(q, &item), 2);
  EXPECT_EQ(item.kind, lvx::ITEM_EVENT);
  EXPECT_EQ(take(q), 3);
  EXPECT_EQ(take(q), -1);
  EXPECT_EQ(q.items(), 0u);
  EXPECT_EQ(q.free_space(), 1000u);
  EXPECT_FALSE(q.lost_pending());

  // A second init keeps the buffer and empties the queue.
  q.put(a, lvx::ITEM_SAMPLE);
  ASSERT_TRUE(q.init(400));
  EXPECT_EQ(q.items(), 0u);
  EXPECT_EQ(q.capacity(), 400u);
  EXPECT_EQ(take(q), -1);
}

TEST(DataQueue, WrapsAroundWithoutLosingWhatWasRead) {
  DataQueue q;
  ASSERT_TRUE(q.init(100));
  // 22-byte slots: four fit, the fifth needs the space the first two freed.
  for (uint8_t i = 1; i <= 4; ++i) {
    auto it = item_of(i, 20);
    ASSERT_EQ(q.put(it, lvx::ITEM_SAMPLE), 0);
  }
  EXPECT_EQ(take(q), 1);
  EXPECT_EQ(take(q), 2);
  auto five = item_of(5, 20);
  EXPECT_EQ(q.put(five, lvx::ITEM_SAMPLE), 0);  // wrapped to the start
  EXPECT_EQ(q.free_space(), 22u);  // between the new write position and the oldest item
  EXPECT_EQ(take(q), 3);
  EXPECT_EQ(take(q), 4);
  EXPECT_EQ(take(q), 5);  // read position followed the wrap
  EXPECT_EQ(take(q), -1);
  EXPECT_FALSE(q.lost_pending());
}

TEST(DataQueue, DiscardsTheOldestToMakeRoomAndReportsTheLoss) {
  DataQueue q;
  ASSERT_TRUE(q.init(100));
  std::vector<uint8_t> discarded_markers;
  auto on_marker = [&](lvx::Bytes marker) { discarded_markers.push_back(marker[0]); };
  auto marker = item_of(9, 20);
  ASSERT_EQ(q.put(marker, lvx::ITEM_MARKER, on_marker), 0);
  for (uint8_t i = 1; i <= 3; ++i) {
    auto it = item_of(i, 20);
    ASSERT_EQ(q.put(it, lvx::ITEM_EVENT, on_marker), 0);
  }
  auto big = item_of(7, 40);
  EXPECT_EQ(q.put(big, lvx::ITEM_SAMPLE, on_marker), 2);
  EXPECT_EQ(discarded_markers, std::vector<uint8_t>{9});  // a discarded marker is still seen
  EXPECT_TRUE(q.lost_pending());
  EXPECT_EQ(q.items(), 3u);
  EXPECT_EQ(q.markers(), 0u);
  EXPECT_EQ(take(q), 2);
  EXPECT_EQ(q.gap_types(), lvx::ITEM_MARKER | lvx::ITEM_EVENT);
  EXPECT_EQ(take(q), 3);
  EXPECT_EQ(q.gap_types(), 0);  // reported once, with the first item after the loss
  EXPECT_EQ(take(q), 7);
}

TEST(DataQueue, KeepsWorkingAcrossManyWraps) {
  DataQueue q;
  ASSERT_TRUE(q.init(1000));
  uint8_t next_in = 0;
  uint8_t next_out = 0;
  // The reader keeps up: 5000 items of varied sizes pass without loss and in order.
  for (int round = 0; round < 5000; ++round) {
    auto it = item_of(next_in, static_cast<size_t>(1 + (round * 37) % 100));
    ASSERT_GE(q.put(it, lvx::ITEM_SAMPLE), 0);
    ++next_in;
    if (round % 3 != 0) {
      ASSERT_EQ(take(q), next_out);
      ++next_out;
    }
    ASSERT_FALSE(q.lost_pending()) << round;
    ASSERT_LE(q.free_space(), 1000u);
    if (q.items() > 3) {
      ASSERT_EQ(take(q), next_out);
      ++next_out;
    }
  }
  while (take(q) >= 0) ++next_out;
  EXPECT_EQ(next_out, next_in);
}

TEST(DataQueue, RefusesItemsThatCanNeverFitAndReportsOversizedOnes) {
  DataQueue q;
  EXPECT_EQ(q.put({}, lvx::ITEM_SAMPLE), -1);  // no buffer yet
  ASSERT_TRUE(q.init(3000));
  auto too_long = item_of(1, 2998);
  EXPECT_EQ(q.put(too_long, lvx::ITEM_EVENT), -1);
  auto oversized = item_of(2, 1500);
  ASSERT_EQ(q.put(oversized, lvx::ITEM_EVENT), 0);
  auto after = item_of(3, 4);
  ASSERT_EQ(q.put(after, lvx::ITEM_EVENT), 0);
  uint8_t buf[lvx::kMaxItemOut];
  DataQueue::Item item, real;
  ASSERT_TRUE(q.get(buf, &item, &real));
  EXPECT_EQ(item.kind, 0);  // consumed, handed out empty
  EXPECT_EQ(item.length, 0);
  EXPECT_EQ(real.length, 1500);
  EXPECT_EQ(take(q), 3);
  // The longest item a reader takes out is still handed out whole.
  ASSERT_EQ(q.put(item_of(6, lvx::kMaxItemOut), lvx::ITEM_EVENT), 0);
  ASSERT_TRUE(q.get(buf, &item, &real));
  EXPECT_EQ(item.length, lvx::kMaxItemOut);
  EXPECT_EQ(buf[lvx::kMaxItemOut - 1], 6);

  // The stored header has 12 bits for the length.
  ASSERT_TRUE(q.init(10000));
  EXPECT_EQ(q.put(item_of(4, lvx::kMaxItemStored + 1), lvx::ITEM_EVENT), -1);
  EXPECT_EQ(q.put(item_of(5, lvx::kMaxItemStored), lvx::ITEM_EVENT), 0);
  ASSERT_TRUE(q.get(buf, &item, &real));
  EXPECT_EQ(real.length, lvx::kMaxItemStored);
}

}  // namespace
