// The stream's packet composition without sockets: full and delta times (the library's tests
// stream full times only), samples per packet and the size cap, and the fault injector's
// decisions and counts.
#include <gtest/gtest.h>

#include <string>

#include "lumavex_core.h"
#include "sim/stream.h"

namespace {

using lvxsim::FaultInjector;
using lvxsim::StreamConfig;
using lvxsim::StreamEngine;
using lvxsim::StreamPacket;

// The time field of each sample of the first n packets in turn: F for a full time (which must be
// the sample's ms), else the delta byte's digit.
std::string time_fields(const StreamConfig &c, int packets) {
  StreamEngine e(c, 1'000'000, 1);
  std::string out;
  for (int i = 0; i < packets; ++i) {
    for (const lvxsim::SentSample &s : e.next_packet().samples) {
      const bool full = (s.wire.flags & SF_FULL_TIME) != 0;
      EXPECT_TRUE(!full || s.wire.time == s.time_ms) << s.index;
      out += full ? 'F' : static_cast<char>('0' + s.wire.delta);
    }
  }
  return out;
}

TEST(SimStreamEngine, FullAndDeltaTimes) {
  StreamConfig c;
  c.full_time_every = 4;
  EXPECT_EQ(time_fields(c, 9), "F111F111F");
  c.rate_hz = 2000;  // pairs share their ms
  c.full_time_every = 1000;
  EXPECT_EQ(time_fields(c, 7), "F010101");
}

TEST(SimStreamEngine, SamplesPerPacketAndSizeCap) {
  StreamConfig c;
  c.samples_per_packet = 5;
  StreamEngine e(c, 0, 1);
  EXPECT_EQ(e.next_packet_due_us(), 4000);
  StreamPacket p = e.next_packet();
  ASSERT_EQ(p.samples.size(), 5u);
  EXPECT_EQ(p.last_time_us, 4000);
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

// The sequence numbers routed out, repeats marked by 1000 more.
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
