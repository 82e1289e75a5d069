// The data stream over loopback, read by a raw socket acting as the display: markers first and
// last, consecutive data sequence numbers, the sample count against the time streamed, faults as
// requested, 2000 Hz pacing, messages, buttons and inputs in the stream, observers, and a TCP
// client. Each test's tracker has its own address, 127.0.0.79 and up.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <thread>

#include "data_reader.h"
#include "raw_display.h"
#include "sim/tracker.h"

namespace {

using simtest::Endpoint;
using simtest::mono_us;
using simtest::Packet;
using simtest::Socket;
using simtest::start_sim;

// A decoded view of one DATA packet as the display would walk it.
struct DataView {
  uint32_t sequence = 0;
  uint32_t header_time = 0;
  std::vector<simtest::ItemView> items;
  std::vector<lvxsim::build::SampleFields> samples;
  std::vector<uint8_t> event_types;
  bool has(uint8_t type) const {
    return std::find(event_types.begin(), event_types.end(), type) != event_types.end();
  }
};

// The display side: a raw socket that connects and then reads DATA packets.
struct Display : simtest::RawDisplay {
  bool connect(lvxsim::SimTracker &sim) {
    auto ack = request_connection(sim);
    return ack && (*ack)[0] == lvxsim::kConnectPkt && sim.client_connected();
  }
  // DATA packets until one closes the sample block (or timeout_ms passes), in arrival order.
  std::vector<DataView> collect(int timeout_ms) {
    std::vector<DataView> out;
    int64_t end = mono_us() + int64_t{timeout_ms} * 1000;
    while (mono_us() < end) {
      auto p = recv(50);
      if (!p || (*p)[0] != lvxsim::kDataPkt) continue;
      out.push_back(view(*p));
      if (out.back().has(EV_SAMPLE_BLOCK_END)) break;
    }
    return out;
  }
  static DataView view(const Packet &p) {
    DataView v;
    v.sequence = lvx::get_u32(lvx::Bytes(p), 4);
    v.header_time = lvx::get_u32(lvx::Bytes(p), 8);
    auto items = simtest::read_items(p);
    EXPECT_TRUE(items) << "malformed DATA packet " << v.sequence;
    if (!items) return v;
    v.items = *items;
    for (const auto &it : v.items) {
      auto s = it.event ? std::nullopt : simtest::read_sample(it.body);
      EXPECT_TRUE(it.event || s);
      if (it.event) v.event_types.push_back(it.event_type());
      if (s) v.samples.push_back(*s);
    }
    return v;
  }
};

// Sample times of a run, resolving delta bytes as the display does.
std::vector<uint32_t> sample_times(const std::vector<DataView> &run) {
  std::vector<uint32_t> t;
  for (const auto &v : run) {
    for (const auto &s : v.samples) {
      t.push_back((s.flags & SF_FULL_TIME) ? s.time : (t.empty() ? 0 : t.back()) + s.delta);
    }
  }
  return t;
}

// Streams with `c` while `during` runs, the display reading all the while (so that nothing piles
// up in its socket), then stops the stream and returns the DATA packets read up to the closing
// markers. *elapsed_us gets the time from the start to the end of the stop.
std::vector<DataView> run_stream(lvxsim::SimTracker &sim, Display &d, const lvxsim::StreamConfig &c,
                                 const std::function<void()> &during,
                                 int64_t *elapsed_us = nullptr) {
  std::vector<DataView> run;
  std::thread reader([&] { run = d.collect(10000); });
  int64_t t0 = mono_us();
  const bool started = sim.start_streaming(c);
  EXPECT_TRUE(started);
  if (started) during();
  sim.stop_streaming();
  if (elapsed_us) *elapsed_us = mono_us() - t0;
  reader.join();
  return run;
}

void sleep_ms(int ms) {
  lvx::platform::sleep_us(int64_t{ms} * 1000);
}

size_t count_samples(const std::vector<DataView> &run) {
  size_t n = 0;
  for (const auto &v : run) n += v.samples.size();
  return n;
}

TEST(SimStream, Streams1000HzWithMarkersFirstAndLastAndConsecutiveSequences) {
  auto sim = start_sim(79);
  Display d;
  lvxsim::StreamConfig c;
  EXPECT_FALSE(sim->start_streaming(c));  // nobody to stream to
  ASSERT_TRUE(d.connect(*sim));
  int64_t elapsed_us = 0;
  auto run = run_stream(
      *sim, d, c,
      [&] {
        EXPECT_TRUE(sim->streaming());
        EXPECT_FALSE(sim->start_streaming(c));  // one stream at a time
        sleep_ms(200);
      },
      &elapsed_us);
  EXPECT_FALSE(sim->streaming());
  ASSERT_GE(run.size(), 3u);

  // Markers open and close the stream; nothing else carries them.
  EXPECT_EQ(run.front().event_types, (std::vector<uint8_t>{15, 17}));
  EXPECT_TRUE(run.front().samples.empty());
  EXPECT_EQ(run.back().event_types, (std::vector<uint8_t>{16, 18}));
  for (size_t i = 1; i + 1 < run.size(); ++i) {
    EXPECT_EQ(run[i].samples.size(), 1u) << i;
    for (uint8_t t : run[i].event_types) EXPECT_TRUE(t < 15 || t > 18) << i;
  }
  for (size_t i = 1; i < run.size(); ++i) ASSERT_EQ(run[i].sequence, run[i - 1].sequence + 1);

  // About rate x time: never ahead of the clock, and not far behind it.
  size_t n = count_samples(run);
  EXPECT_LE(n, static_cast<size_t>(elapsed_us / 1000 + 2));
  EXPECT_GE(n, 60u);
  auto times = sample_times(run);
  for (size_t i = 1; i < times.size(); ++i) ASSERT_EQ(times[i], times[i - 1] + 1) << i;
  // Sample times are the tracker's clock: each packet leaves at or after its sample's time.
  for (const auto &v : run) {
    if (!v.samples.empty()) {
      EXPECT_GE(v.header_time, v.samples.front().time);
    }
  }

  lvxsim::StreamStats st = sim->stream_stats();
  EXPECT_EQ(st.samples, n);
  EXPECT_EQ(st.packets_sent, run.size());
  EXPECT_EQ(st.markers, 4u);
  EXPECT_EQ(st.first_sequence, run.front().sequence);
  EXPECT_EQ(st.last_sequence, run.back().sequence);
  EXPECT_EQ(st.last_sample_time, times.back());
  EXPECT_EQ(st.packets_dropped + st.packets_duplicated + st.send_failures, 0u);

  // A second stream continues the data sequence.
  auto again = run_stream(*sim, d, c, [] {});
  ASSERT_FALSE(again.empty());
  EXPECT_EQ(again.front().sequence, run.back().sequence + 1);
}

TEST(SimStream, OneShotFaultsDropDuplicateAndSwap) {
  auto sim = start_sim(80);
  Display d;
  ASSERT_TRUE(d.connect(*sim));
  lvxsim::StreamConfig c;
  c.rate_hz = 500;
  auto run = run_stream(*sim, d, c, [&] {
    sleep_ms(30);
    sim->drop_next_packets(2);
    sleep_ms(30);
    sim->duplicate_next_packet();
    sleep_ms(30);
    sim->swap_next_two_packets();
    sleep_ms(60);
  });
  ASSERT_GE(run.size(), 20u);

  std::vector<uint32_t> seq, missing;
  std::map<uint32_t, int> seen;
  int twice = 0, swaps = 0;
  for (const auto &v : run) {
    ++seen[v.sequence];
    swaps += !seq.empty() && v.sequence + 1 == seq.back();
    seq.push_back(v.sequence);
  }
  for (uint32_t s = seq.front(); s <= seq.back(); ++s) {
    if (!seen.count(s)) missing.push_back(s);
  }
  ASSERT_EQ(missing.size(), 2u);
  EXPECT_EQ(missing[1], missing[0] + 1);  // two lost in a row
  for (const auto &[s, k] : seen) twice += k == 2;
  EXPECT_EQ(twice, 1);
  EXPECT_EQ(swaps, 1);
  // The faults come in the order asked for: the loss, then the repeat, then the swap.
  auto first_repeat = std::adjacent_find(seq.begin(), seq.end());
  ASSERT_NE(first_repeat, seq.end());
  EXPECT_GT(*first_repeat, missing[1]);

  lvxsim::StreamStats st = sim->stream_stats();
  EXPECT_EQ(st.packets_dropped, 2u);
  EXPECT_EQ(st.packets_duplicated, 1u);
  EXPECT_EQ(st.packets_reordered, 1u);
  EXPECT_EQ(st.packets_sent, run.size());
}

TEST(SimStream, TwoThousandHzKeepsPace) {
  auto sim = start_sim(82);
  Display d;
  ASSERT_TRUE(d.connect(*sim));
  lvxsim::StreamConfig c;
  c.rate_hz = 2000;
  c.eyes = lvxsim::Eyes::kLeft;
  int64_t elapsed_us = 0;
  auto run = run_stream(
      *sim, d, c, [] { sleep_ms(250); }, &elapsed_us);
  ASSERT_FALSE(run.empty());
  EXPECT_TRUE(run.back().has(EV_SAMPLE_BLOCK_END));
  size_t n = count_samples(run);
  EXPECT_LE(n, static_cast<size_t>(elapsed_us / 500 + 2));
  EXPECT_GE(n, static_cast<size_t>(elapsed_us / 500 / 4));
  for (const auto &v : run) {
    for (const auto &s : v.samples) {
      EXPECT_EQ(s.flags & (SF_LEFT | SF_RIGHT | SF_FULL_TIME), SF_LEFT | SF_FULL_TIME);
    }
  }
}

TEST(SimStream, TcpClientGetsFramedPacketsOfSeveralSamples) {
  lvxsim::Config cfg;
  cfg.enable_tcp = true;
  auto sim = start_sim(85, cfg);
  int err = 0;
  Socket s = Socket::tcp(&err);
  ASSERT_EQ(s.bind(Endpoint{{127, 0, 0, 1}, 0}), 0);
  int rc = s.connect_start(sim->tcp_endpoint());
  ASSERT_TRUE(rc == 0 || rc == lvx::platform::kSockInProgress) << rc;
  ASSERT_EQ(s.wait_writable(5000000), 1);
  Packet req = lvxsim::build::connect_packet(lvxsim::kConnectRequest, 3, 2, "", "display",
                                             "QX VELOTRIS LUMAVEX");
  Packet stream(lvxsim::kTcpGreeting, lvxsim::kTcpGreeting + lvxsim::kTcpGreetingSize);
  stream.push_back(0);
  stream.push_back(static_cast<uint8_t>(req.size()));
  stream.insert(stream.end(), req.begin(), req.end());
  ASSERT_EQ(s.send_all(stream.data(), stream.size()), 0);
  for (int i = 0; i < 100 && !sim->client_connected(); ++i) lvx::platform::sleep_us(20000);
  ASSERT_TRUE(sim->client_connected());

  lvxsim::StreamConfig c;
  c.samples_per_packet = 8;
  ASSERT_TRUE(sim->start_streaming(c));
  lvx::platform::sleep_us(100000);
  sim->stop_streaming();

  // Read frames ("LV", length, packet) until the closing markers.
  Packet pending;
  std::vector<DataView> run;
  int64_t end = mono_us() + 3'000'000;
  while (mono_us() < end && (run.empty() || !run.back().has(EV_SAMPLE_BLOCK_END))) {
    if (s.wait_readable(50000) <= 0) continue;
    uint8_t buf[4096];
    int got = s.recv(buf, sizeof buf);
    ASSERT_GT(got, 0);
    pending.insert(pending.end(), buf, buf + got);
    while (pending.size() >= 4) {
      ASSERT_EQ(std::string(pending.begin(), pending.begin() + 2), "LV");
      size_t len = lvx::get_u16(lvx::Bytes(pending), 2);
      if (pending.size() < 4 + len) break;
      Packet p(pending.begin() + 4, pending.begin() + 4 + static_cast<std::ptrdiff_t>(len));
      pending.erase(pending.begin(), pending.begin() + 4 + static_cast<std::ptrdiff_t>(len));
      if (p[0] == lvxsim::kDataPkt) run.push_back(Display::view(p));
    }
  }
  ASSERT_GE(run.size(), 4u);
  EXPECT_TRUE(run.front().has(EV_SAMPLE_BLOCK_START));
  EXPECT_TRUE(run.back().has(EV_SAMPLE_BLOCK_END));
  for (size_t i = 1; i + 1 < run.size(); ++i) {
    EXPECT_EQ(run[i].samples.size(), 8u) << i;
    EXPECT_EQ(run[i].sequence, run[i - 1].sequence + 1);
  }
  EXPECT_EQ(sim->stream_stats().send_failures, 0u);
}

}  // namespace
