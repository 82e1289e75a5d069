// The DATA_PKT intake on its own, without a link: packets cut short are refused rather than read
// as zeros, the item walk stops at an item that runs past the item area, and the data sequence
// check drops repeats and late packets but reports every break in the stream.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "data/data_stream.h"
#include "sim/data_items.h"

namespace {

namespace build = lvxsim::build;

class DataIntake : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(lvx::data_queue_init(0), 0);
    d.events_on = true;
    d.samples_on = true;
    d.last_data_sequence = -1;  // as after a data reset, which needs an open link system
    // Values a packet read as zeros would overwrite.
    d.status.position_prescaler = 10;
    d.status.sample_rate_x10 = 2500;
  }
  int take(const std::vector<uint8_t> &packet, size_t length) {
    return lvx::handle_data_packet(sender, lvx::Bytes(packet).first(length));
  }
  static std::vector<uint8_t> buttons_packet(uint32_t sequence, uint16_t count) {
    build::DataPacketFields f;
    f.sequence = sequence;
    f.position_prescaler = 20;
    f.rate_x10 = 5000;
    std::vector<build::Item> items;
    for (uint16_t i = 0; i < count; ++i) {
      items.push_back({true, build::button_body(1000u + i, i)});
    }
    return build::data_packet(f, items);
  }

  lvx::DataStream &d = lvx::data_stream();
  LVXADDR sender{};
};

TEST_F(DataIntake, TruncatedPacketIsRefusedNotReadAsZeros) {
  const std::vector<uint8_t> packet = buttons_packet(7, 1);
  // Shorter than its own length says, shorter than its length field, empty.
  for (size_t cut : {packet.size() - 1, size_t{21}, size_t{0}}) {
    EXPECT_EQ(take(packet, cut), -1) << cut;
  }
  EXPECT_EQ(d.status.position_prescaler, 10);
  EXPECT_EQ(d.status.sample_rate_x10, 2500);
  EXPECT_EQ(d.last_data_sequence, -1);
  EXPECT_EQ(d.queue.items(), 0u);

  ASSERT_EQ(take(packet, packet.size()), static_cast<int>(packet.size()));
  EXPECT_EQ(d.status.position_prescaler, 20);
  EXPECT_EQ(d.status.sample_rate_x10, 5000);
  EXPECT_EQ(d.last_data_sequence, 7);
  EXPECT_EQ(d.queue.events(), 1u);
}

TEST_F(DataIntake, WalkStopsAtAnItemRunningPastTheArea) {
  std::vector<uint8_t> packet = buttons_packet(1, 3);
  // The second item's header claims more bytes than the item area has left: it and the third
  // item are not queued, and the packet still counts as used.
  const size_t first_length = build::button_body(0, 0).size();
  const size_t second_header = build::kDataItemsOffset + 2 + first_length;
  packet[second_header] |= 0x01;  // 256 bytes longer
  ASSERT_EQ(take(packet, packet.size()), static_cast<int>(packet.size()));
  EXPECT_EQ(d.queue.events(), 1u);
  // An item marked last ends the walk, whatever follows it.
  std::vector<uint8_t> marked = buttons_packet(2, 2);
  marked[build::kDataItemsOffset] |= 0x80;
  ASSERT_EQ(take(marked, marked.size()), static_cast<int>(marked.size()));
  EXPECT_EQ(d.queue.events(), 2u);
}

TEST_F(DataIntake, SequenceBreaksAreReportedAndTheStreamGoesOn) {
  // Packets without items: every event queued is a lost-data record.
  uint32_t lost = 0;
  auto expect = [&](uint32_t sequence, bool taken, bool reported) {
    const int64_t before = d.last_data_sequence;
    const std::vector<uint8_t> packet = buttons_packet(sequence, 0);
    ASSERT_EQ(take(packet, packet.size()), static_cast<int>(packet.size()));
    if (reported) ++lost;
    EXPECT_EQ(d.queue.events(), lost) << sequence;
    EXPECT_EQ(d.last_data_sequence, taken ? int64_t{sequence} : before) << sequence;
  };
  expect(10, true, false);  // the first after a reset
  expect(11, true, false);
  expect(11, false, false);  // a repeat
  expect(9, false, false);   // late: its place was reported when 10 came first
  expect(13, true, true);    // 12 went missing
  expect(77, true, true);
  expect(13, false, false);  // 64 behind: still late
  expect(12, true, true);    // 65 behind: a restart
  expect(13, true, false);
  // One stray far ahead is reported and taken; the stream that goes on after it is far behind,
  // which is a restart: reported and taken, not dropped as old from then on.
  expect(0x80000000u, true, true);
  expect(14, true, true);
  expect(15, true, false);
  // A tracker that restarted its stream at 1, well behind the last number.
  expect(16, true, false);
  expect(1000, true, true);
  expect(1, true, true);
  expect(2, true, false);
  // The numbers wrap (2 to 0xFFFFFFFE would be 4 behind: go there through a jump).
  expect(0x40000000u, true, true);
  expect(0xFFFFFFFEu, true, true);
  expect(0xFFFFFFFFu, true, false);
  expect(0, true, false);
  expect(1, true, false);
}

TEST_F(DataIntake, AStreamRestartedJustBehindTheLastNumberIsReportedAfterEightPackets) {
  const std::vector<uint8_t> first = buttons_packet(100, 0);
  ASSERT_GT(take(first, first.size()), 0);
  // Seven packets in a row that look late or repeated are dropped...
  for (uint32_t sequence = 94; sequence <= 100; ++sequence) {
    const std::vector<uint8_t> p = buttons_packet(sequence, 0);
    take(p, p.size());
  }
  EXPECT_EQ(d.last_data_sequence, 100);
  EXPECT_EQ(d.queue.events(), 0u);
  // ...the eighth is taken as a restart, with a lost-data record.
  const std::vector<uint8_t> eighth = buttons_packet(90, 0);
  take(eighth, eighth.size());
  EXPECT_EQ(d.last_data_sequence, 90);
  EXPECT_EQ(d.queue.events(), 1u);
  // A single repeat in between good packets does not add up to a restart.
  for (uint32_t sequence = 91; sequence < 120; ++sequence) {
    for (uint32_t again : {sequence, sequence}) {
      const std::vector<uint8_t> p = buttons_packet(again, 0);
      take(p, p.size());
    }
  }
  EXPECT_EQ(d.last_data_sequence, 119);
  EXPECT_EQ(d.queue.events(), 1u);
}

TEST_F(DataIntake, ATrackerThatRestartsItsNumberingAfterAFewPacketsIsReported) {
  // Numbers behind the last with a later send time are a new stream, not repeats (which carry
  // the time they were first sent with).
  auto send = [&](uint32_t sequence, uint32_t time) {
    std::vector<uint8_t> p = buttons_packet(sequence, 0);
    lvx::put_u32(lvx::MutableBytes(p), 8, time);
    take(p, p.size());
  };
  for (uint32_t sequence = 1; sequence <= 3; ++sequence) send(sequence, 100 + sequence);
  send(3, 103);  // a repeat
  send(2, 102);  // late
  EXPECT_EQ(d.queue.events(), 0u);
  send(1, 500);  // the tracker started again three packets in
  EXPECT_EQ(d.queue.events(), 1u);
  EXPECT_EQ(d.last_data_sequence, 1);
  send(2, 501);
  send(3, 502);
  EXPECT_EQ(d.queue.events(), 1u);
  EXPECT_EQ(d.last_data_sequence, 3);
}

}  // namespace
