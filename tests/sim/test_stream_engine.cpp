// The stream's packet composition without sockets: block markers, full and delta times and the
// 2000 Hz half-ms pairs, samples per packet and the size cap, the values reported for each sample
// and event against the bytes sent, injected events, and the fault injector's decisions.
#include <gtest/gtest.h>

#include "data_reader.h"
#include "sim/stream.h"

namespace {

using lvxsim::FaultInjector;
using lvxsim::StreamConfig;
using lvxsim::StreamEngine;
using lvxsim::StreamPacket;
using simtest::ItemView;

std::vector<ItemView> items_of(const StreamPacket &p) {
  auto items = simtest::read_items(p.bytes);
  EXPECT_TRUE(items);
  return items.value_or(std::vector<ItemView>{});
}

TEST(SimStreamEngine, OpenAndClosePacketsCarryTheStreamParameters) {
  StreamConfig c;
  c.rate_hz = 500;
  c.eyes = lvxsim::Eyes::kLeft;
  c.position_prescaler = 20;
  c.velocity_prescaler = 5;
  c.pupil_prescaler = 2;
  c.packet_flags = 0x0102;
  StreamEngine e(c, 7'000'400, 90);
  StreamPacket open = e.open_packet();
  EXPECT_EQ(open.sequence, 90u);
  EXPECT_TRUE(open.markers);
  lvx::Bytes b(open.bytes);
  EXPECT_EQ(lvx::get_u32(b, 4), 90u);
  EXPECT_EQ(lvx::get_u16(b, 30), 20);
  EXPECT_EQ(lvx::get_u16(b, 32), 5);
  EXPECT_EQ(lvx::get_u16(b, 34), 2);
  EXPECT_EQ(lvx::get_u16(b, 36), 0x0102);
  EXPECT_EQ(lvx::get_u16(b, 38), 5000);
  auto items = items_of(open);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].event_type(), EV_SAMPLE_BLOCK_START);
  EXPECT_EQ(items[1].event_type(), EV_EVENT_BLOCK_START);
  auto s15 = simtest::read_tags(items[0].body);
  ASSERT_TRUE(s15);
  EXPECT_EQ(simtest::find_tag(*s15, 0x21)->u32(), 7000u);
  EXPECT_EQ(simtest::find_tag(*s15, 0x41)->u32() / 6553, 5000u);
  EXPECT_EQ(simtest::find_tag(*s15, 0x30)->u16(), 20);
  EXPECT_EQ(simtest::find_tag(*s15, 0x51)->u16(), 5);
  EXPECT_EQ(simtest::find_tag(*s15, 0x56)->u16(), 2);
  EXPECT_EQ(simtest::find_tag(*s15, 0x93)->u16(), 500);
  EXPECT_EQ(simtest::find_tag(*s15, 0x4B)->u16(), 0x0121);  // mode 1, 500 Hz, left eye
  uint16_t flags = simtest::find_tag(*s15, 0xB4)->u16();
  EXPECT_EQ(flags, e.sample_flags());
  EXPECT_EQ(flags & (SF_LEFT | SF_RIGHT), SF_LEFT);
  auto s17 = simtest::read_tags(items[1].body);
  ASSERT_TRUE(s17);
  EXPECT_EQ(simtest::find_tag(*s17, 0x55)->u16() & 0xC000, 0x4000);  // left travels as bit 14

  StreamPacket first = e.next_packet();
  EXPECT_EQ(first.sequence, 91u);
  EXPECT_EQ(first.samples.at(0).time_ms, 7000u);
  StreamPacket close = e.close_packet(7123);
  EXPECT_EQ(close.sequence, 92u);
  items = items_of(close);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].event_type(), EV_SAMPLE_BLOCK_END);
  EXPECT_EQ(items[1].event_type(), EV_EVENT_BLOCK_END);
  EXPECT_EQ(simtest::read_tags(items[1].body)->at(0).u32(), 7123u);

  // Without events the event block is neither opened nor closed; without markers there are no
  // marker packets and no sequence numbers spent on them.
  c.events = false;
  StreamEngine quiet(c, 0, 1);
  EXPECT_EQ(items_of(quiet.open_packet()).size(), 1u);
  c.block_markers = false;
  StreamEngine bare(c, 0, 1);
  EXPECT_TRUE(bare.open_packet().bytes.empty());
  EXPECT_EQ(bare.next_packet().sequence, 1u);
  EXPECT_TRUE(bare.close_packet(5).bytes.empty());
}

// The sample items of the next n packets, read back.
std::vector<lvxsim::build::SampleFields> next_samples(StreamEngine &e, int packets) {
  std::vector<lvxsim::build::SampleFields> out;
  for (int i = 0; i < packets; ++i) {
    for (const ItemView &it : items_of(e.next_packet())) {
      if (it.event) continue;
      auto s = simtest::read_sample(it.body);
      EXPECT_TRUE(s);
      if (s) out.push_back(*s);
    }
  }
  return out;
}

TEST(SimStreamEngine, FullAndDeltaTimesAndHalfMsPairs) {
  StreamConfig c;
  c.full_time_every = 4;
  StreamEngine every4(c, 1'000'000, 1);
  auto s = next_samples(every4, 9);
  ASSERT_EQ(s.size(), 9u);
  for (size_t i = 0; i < s.size(); ++i) {
    bool full = (s[i].flags & SF_FULL_TIME) != 0;
    EXPECT_EQ(full, i % 4 == 0) << i;
    if (full) {
      EXPECT_EQ(s[i].time, 1000u + i);
    } else {
      EXPECT_EQ(s[i].delta, 1);
    }
  }

  // 2000 Hz with full times: pairs share their ms and the second of each is reported half a ms
  // later. With delta bytes: 0 within a pair, 1 to the next pair.
  c.rate_hz = 2000;
  c.full_time_every = 1;
  StreamEngine full(c, 2'000'000, 1);
  for (int i = 0; i < 6; ++i) {
    StreamPacket p = full.next_packet();
    ASSERT_EQ(p.samples.size(), 1u);
    EXPECT_EQ(p.samples[0].time_ms, 2000u + static_cast<uint32_t>(i / 2));
    EXPECT_EQ(p.samples[0].half_ms, i % 2 == 1) << i;
    EXPECT_EQ(p.samples[0].wire.time, p.samples[0].time_ms);
  }
  c.full_time_every = 1000;
  StreamEngine delta(c, 2'000'000, 1);
  s = next_samples(delta, 7);
  ASSERT_EQ(s.size(), 7u);
  EXPECT_TRUE(s[0].flags & SF_FULL_TIME);
  for (size_t i = 1; i < s.size(); ++i) {
    EXPECT_FALSE(s[i].flags & SF_FULL_TIME);
    EXPECT_EQ(s[i].delta, i % 2 == 0 ? 1 : 0) << i;
  }
}

TEST(SimStreamEngine, SamplesPerPacketAndSizeCap) {
  StreamConfig c;
  c.samples_per_packet = 5;
  StreamEngine e(c, 0, 1);
  int64_t due = e.next_packet_due_us();
  StreamPacket p = e.next_packet();
  EXPECT_EQ(due, 4000);
  ASSERT_EQ(p.samples.size(), 5u);
  EXPECT_EQ(p.last_time_us, 4000);
  size_t sample_items = 0;
  for (const ItemView &it : items_of(p)) sample_items += it.event ? 0 : 1;
  EXPECT_EQ(sample_items, 5u);
  EXPECT_EQ(e.next_packet().samples.front().index, 5u);

  // A cap that holds about two samples closes packets early, never below one sample each.
  c.samples_per_packet = 50;
  c.max_packet_bytes = 200;
  StreamEngine capped(c, 0, 1);
  uint64_t total = 0;
  for (int i = 0; i < 200; ++i) {
    StreamPacket q = capped.next_packet();
    ASSERT_GE(q.samples.size(), 1u);
    EXPECT_LE(q.samples.size(), 3u);
    if (q.samples.size() > 1) {
      EXPECT_LE(q.bytes.size(), 200u);
    }
    total += q.samples.size();
  }
  EXPECT_EQ(capped.next_packet().samples.front().index, total);
}

StreamPacket numbered(uint32_t seq) {
  StreamPacket p;
  p.sequence = seq;
  return p;
}

std::vector<uint32_t> seqs(const std::vector<FaultInjector::Out> &outs) {
  std::vector<uint32_t> s;
  for (const auto &o : outs) s.push_back(o.packet.sequence + (o.repeat ? 1000 : 0));
  return s;
}

TEST(SimFaultInjector, OneShotRequestsAndRates) {
  StreamConfig c;
  FaultInjector f(c);
  f.drop_next(2);
  f.duplicate_next();
  f.swap_next_two();
  EXPECT_TRUE(f.route(numbered(1)).empty());
  EXPECT_TRUE(f.route(numbered(2)).empty());
  EXPECT_EQ(seqs(f.route(numbered(3))), (std::vector<uint32_t>{3, 1003}));
  EXPECT_TRUE(f.route(numbered(4)).empty());  // held for the swap
  EXPECT_EQ(seqs(f.route(numbered(5))), (std::vector<uint32_t>{5, 4}));
  EXPECT_EQ(seqs(f.route(numbered(6))), (std::vector<uint32_t>{6}));
  f.swap_next_two();
  EXPECT_TRUE(f.route(numbered(7)).empty());
  EXPECT_EQ(seqs(f.flush()), (std::vector<uint32_t>{7}));
  EXPECT_TRUE(f.flush().empty());
  EXPECT_EQ(f.dropped(), 2u);
  EXPECT_EQ(f.duplicated(), 1u);
  EXPECT_EQ(f.reordered(), 1u);

  // Rates: about the fraction asked for, the same for the same seed.
  c.drop_rate = 0.2;
  c.duplicate_rate = 0.1;
  FaultInjector r1(c);
  FaultInjector r2(c);
  size_t out1 = 0;
  for (uint32_t i = 0; i < 5000; ++i) {
    auto a = seqs(r1.route(numbered(i)));
    EXPECT_EQ(a, seqs(r2.route(numbered(i))));
    out1 += a.size();
  }
  EXPECT_NEAR(static_cast<double>(r1.dropped()), 1000.0, 150.0);
  EXPECT_NEAR(static_cast<double>(r1.duplicated()), 400.0, 100.0);  // 10% of the rest
  EXPECT_EQ(r1.reordered(), 0u);
  EXPECT_EQ(out1, 5000 - r1.dropped() + r1.duplicated());
}

}  // namespace
