// The batch readers over a data queue filled by the DATA_PKT intake, without a link: how many
// records one call may take and count, which kinds a loss took, and where a loss sits in time.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "common/byte_io.h"
#include "data/data_access.h"
#include "data/data_stream.h"
#include "link/link_state.h"
#include "sim/data_items.h"

namespace {

namespace build = lvxsim::build;

class DataReaders : public testing::Test {
 protected:
  void SetUp() override {
    lvx::link_system().open = true;  // the readers serve an open link system only
    ASSERT_EQ(lvx::data_queue_init(0), 0);
    d.samples_on = true;
    d.events_on = true;
    d.last_data_sequence = -1;
  }
  void TearDown() override { lvx::link_system().open = false; }

  // One data packet: `count` samples (or button events) at times from `time` on, 1 ms apart.
  void packet(uint32_t sequence, uint32_t time, int count, bool buttons = false) {
    build::DataPacketFields f;
    f.sequence = sequence;
    std::vector<build::Item> items;
    for (int i = 0; i < count; ++i) {
      const uint32_t t = time + static_cast<uint32_t>(i);
      if (buttons) {
        items.push_back({true, build::button_body(t, 1)});
      } else {
        build::SampleFields s;
        s.flags = SF_SAMPLE | SF_FULL_TIME;
        s.time = t;
        items.push_back({false, build::sample_body(s)});
      }
    }
    std::vector<uint8_t> p = build::data_packet(f, items);
    ASSERT_GT(lvx::handle_data_packet(LVXADDR{}, lvx::Bytes(p)), 0);
  }

  lvx::DataStream &d = lvx::data_stream();
};

TEST_F(DataReaders, ABatchTakesNoMoreThanItsResultCanCountAndAllocatesNothingForMax) {
  for (uint32_t i = 0; i < 400; ++i) packet(i + 1, 1000 + i * 100, 100);  // 40,000 samples
  std::vector<float_data> slots(70000);
  slots[32767].head.type = -7;
  EXPECT_EQ(lvx::take_float_records(slots.data(), 70000), 32767);
  EXPECT_EQ(slots[32766].head.type, EV_SAMPLE);
  EXPECT_EQ(slots[32767].head.type, -7);  // not written beyond what the result counts
  // A max far beyond anything queued costs nothing in proportion to it.
  std::vector<double_data> doubles(8000);
  EXPECT_EQ(lvx::wait_double_records(doubles.data(), INT_MAX, 1), 40000 - 32767);
  EXPECT_EQ(doubles[40000 - 32767 - 1].head.type, EV_SAMPLE);
}

TEST_F(DataReaders, ALossNamesEveryKindItTookForABatchReader) {
  // Buttons, then samples, until the full queue (1 MB) has thrown away buttons and samples.
  ASSERT_EQ(lvx::data_queue_init(1000000), 0);
  packet(1, 100, 1000, true);
  uint32_t sequence = 2;
  while (!d.queue.lost_pending() || (d.queue.discarded_kinds() & lvx::ITEM_SAMPLE) == 0) {
    packet(sequence, sequence * 1000, 100);
    ASSERT_LT(++sequence, 5000u);
  }
  std::vector<float_data> slots(64);
  ASSERT_EQ(lvx::take_float_records(slots.data(), 64), 64);
  EXPECT_EQ(slots[0].head.type, EV_LOST_DATA);
  EXPECT_EQ(d.status.gap_types, LUMAVEX_GAP_SAMPLES | LUMAVEX_GAP_EVENTS);
  // The next batch lost nothing before it.
  ASSERT_EQ(lvx::take_float_records(slots.data(), 64), 64);
  EXPECT_EQ(d.status.gap_types, 0);
}

TEST_F(DataReaders, ALossCarriesTheTimeOfTheLastRecordBeforeIt) {
  packet(10, 5000, 3);
  packet(13, 5100, 2);  // 11 and 12 went missing
  std::vector<float_data> slots(8);
  ASSERT_EQ(lvx::take_float_records(slots.data(), 8), 6);
  EXPECT_EQ(slots[2].fs.time, 5002u);
  ASSERT_EQ(slots[3].io.type, EV_LOST_DATA);
  EXPECT_EQ(slots[3].io.time, 5002u);
  EXPECT_EQ(slots[4].fs.time, 5100u);
}

}  // namespace
