// The link on a hostile network. While the library is connected to a simulated tracker and
// streams its samples, a second node on another loopback address (a raw socket) sends it every
// kind of packet that must not steer the link: connect replies, forged command results,
// calibration reports, mode words, playback bits and time stamps, another program's keep-alives,
// short and random datagrams. Each test then checks that the stream (samples in order, nothing
// lost), the commands (results from the tracker) and the clock (within a few ms of the tracker's)
// are untouched. A tracker that falls silent among such traffic is still noticed, and recovers
// without a handshake; a tracker restart mid-stream must be reported as lost data, then flow again.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/wire_reader.h"
#include "link/transport.h"
#include "sim/data_items.h"
#include "sim_fixture.h"

namespace {

using Packet = std::vector<uint8_t>;
using lvx::platform::Endpoint;
using lvx::platform::Socket;
using simtest::wait_until;

// The tracker answers "probe" with this result, 30 ms late, so that a forged result sent in
// the meantime would be taken first.
constexpr int16_t kProbeResult = 7;
constexpr int kProbeDelayMs = 30;
constexpr uint16_t kForgedResult = 99;
// How far the clock estimate may be from the tracker's own clock (loopback latency, and a slow
// sanitizer build).
constexpr double kClockToleranceUs = 5000.0;
// No reading may be further off than this, whatever the load.
constexpr double kClockBoundUs = 100000.0;
// A time stamp far ahead of any tracker: 10^9 ms.
constexpr uint32_t kFarAheadMs = 1000000000u;

Packet status_from(uint32_t serial, uint16_t type, uint16_t value1, const std::string &text,
                   uint8_t mode = 0, uint8_t state = 0, uint8_t byte18 = 0, uint32_t time_ms = 0) {
  Packet p = lvxsim::build::status_packet(serial, type, value1, 0, text);
  lvx::MutableBytes b(p);
  lvx::put_u8(b, 2, mode);
  lvx::put_u8(b, 3, state);
  lvx::put_u32(b, 8, time_ms);
  lvx::put_u8(b, 18, byte18);
  return p;
}

Packet connect_from(uint8_t code, uint32_t time_ms = 0) {
  Packet p = lvxsim::build::connect_packet(code, 3, 2, "stranger", "stranger",
                                           std::string(lvxsim::kIdentityPrefix) + "LUMAVEX RX 5.7");
  lvx::put_u32(lvx::MutableBytes(p), 8, time_ms);
  return p;
}

// A DATA packet with one sample at `time_ms`, numbered `sequence`.
Packet data_from(uint32_t sequence, uint32_t time_ms) {
  lvxsim::build::SampleFields s;
  s.flags = SF_SAMPLE | SF_FULL_TIME | SF_LEFT | SF_GAZE_XY;
  s.time = time_ms;
  lvxsim::build::DataPacketFields f;
  f.sequence = sequence;
  Packet p = lvxsim::build::data_packet(f, {{false, lvxsim::build::sample_body(s)}});
  p[1] = 20;
  return p;
}

// The second node: a raw socket on 127.0.0.m that sends to the library's port, from a thread of
// its own while a flood runs.
class Stranger {
 public:
  // Makes the packets of round i of a flood.
  using Round = std::function<std::vector<Packet>(uint32_t i)>;

  void open(uint8_t m, uint16_t library_port) {
    int err = 0;
    socket_ = Socket::udp(&err);
    ASSERT_TRUE(socket_.valid()) << err;
    ASSERT_EQ(socket_.bind(Endpoint{{127, 0, 0, m}, 0}), 0);
    library_ = Endpoint{{127, 0, 0, 1}, library_port};
  }
  void send(const Packet &p) { socket_.send_to(p.data(), p.size(), library_); }

  // Sends round after round, about every 200 us, until stop() (or at most 30 s).
  void flood(Round round) {
    stop();
    stop_ = false;
    thread_ = std::thread([this, round = std::move(round)] {
      const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      for (uint32_t i = 0; !stop_ && std::chrono::steady_clock::now() < end; ++i) {
        for (const Packet &p : round(i)) send(p);
        rounds_.fetch_add(1);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    });
  }
  void stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  uint32_t rounds() const { return rounds_.load(); }
  ~Stranger() { stop(); }

 private:
  Socket socket_;
  Endpoint library_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<uint32_t> rounds_{0};
};

class HostileLink : public simtest::SimTest {
 protected:
  // Connects to tracker 127.0.0.n, which streams samples at 1000 Hz; the stranger is 127.0.0.m.
  void connect_and_stream(uint8_t n, uint8_t m) {
    connect_to_tracker(n);
    sim().set_command_rule("probe", {kProbeResult, kProbeDelayMs, true, ""});
    stranger_.open(m, lvx::bound_port());
    ASSERT_EQ(lumavex_data_switch(0x04), 0);
    lvxsim::StreamConfig c;
    c.rate_hz = 1000;
    c.events = false;
    c.history = 64;
    ASSERT_TRUE(sim().start_streaming(c));
    ASSERT_GE(read_stream(300, 100).samples, 100u);
  }

  void TearDown() override {
    stranger_.stop();
    if (sim_) sim_->stop_streaming();
    SimTest::TearDown();
  }

  struct StreamCheck {
    size_t samples = 0;
    size_t lost = 0;         // lost-data records
    size_t out_of_step = 0;  // samples whose time is not the previous one's + 1 ms
  };

  // Reads the stream for ms milliseconds, and on until at least min_samples samples came (for
  // at most 5 s more, on a slow machine), checking that the samples follow each other 1 ms
  // apart (the stream is 1000 Hz) and counting lost-data records.
  StreamCheck read_stream(int ms, size_t min_samples = 0) {
    StreamCheck c;
    float_data slots[64];
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    const auto last_end = end + std::chrono::seconds(5);
    for (auto now = std::chrono::steady_clock::now();
         now < end || (c.samples < min_samples && now < last_end);
         now = std::chrono::steady_clock::now()) {
      const int n = lumavex_wait_for_next_data(slots, 64, 1);
      for (int i = 0; i < n; ++i) {
        if (slots[i].head.type == EV_LOST_DATA) ++c.lost;
        if (slots[i].head.type != EV_SAMPLE) continue;
        const uint32_t t = slots[i].fs.time;
        if (last_time_ != 0 && t != last_time_ + 1) ++c.out_of_step;
        last_time_ = t;
        ++c.samples;
      }
    }
    return c;
  }

  // The stream went on untouched: samples kept coming in order, and nothing was lost.
  void expect_stream_untouched(int ms) {
    const StreamCheck c = read_stream(ms, static_cast<size_t>(ms) / 2);
    EXPECT_GE(c.samples, static_cast<size_t>(ms) / 2);
    EXPECT_EQ(c.lost, 0u);
    EXPECT_EQ(c.out_of_step, 0u);
  }

  // Commands still go to the tracker, and their results come from it.
  void expect_commands_from_tracker() {
    EXPECT_EQ(lumavex_timed_command(2000, "probe"), kProbeResult);
    const std::vector<std::string> log = sim().command_log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "probe");
  }

  // The clock estimate is the tracker's clock: within a few ms of it, and never far off. (A
  // receive thread that falls behind on a loaded machine lags for a moment, so a reading that is
  // not within the few ms is taken again, a few times.)
  void expect_clock_true() {
    double best = kClockBoundUs;
    for (int i = 0; i < 10 && best > kClockToleranceUs; ++i) {
      if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      const double before = static_cast<double>(sim().now_us());
      const double estimate = lumavex_tracker_double_usec();
      const double after = static_cast<double>(sim().now_us());
      const double error = estimate < before  ? before - estimate
                           : estimate > after ? estimate - after
                                              : 0.0;
      EXPECT_LE(error, kClockBoundUs);
      best = std::min(best, error);
    }
    EXPECT_LE(best, kClockToleranceUs);
  }

  // The tracker is still the tracker: connected, at its own address.
  void expect_link_held() {
    EXPECT_EQ(lumavex_is_connected(), 1);
    const LVXADDR tracker = tracker_udp_address();
    EXPECT_EQ(std::memcmp(&lumavex_data_status()->tracker_address, &tracker, 6), 0);
  }

  // The serial of the last command the tracker received.
  uint32_t last_serial_at_tracker() {
    uint32_t serial = 0;
    for (const lvxsim::ReceivedPacket &p : sim().received()) {
      if (p.bytes.size() >= 30 && p.bytes[0] == COMMAND_PKT) {
        serial = lvx::WireReader(p.bytes).u32_at(4);
      }
    }
    return serial;
  }

  Stranger stranger_;
  uint32_t last_time_ = 0;
};

// Hostile tests use trackers 127.0.0.190..199 and 153..156, each with its stranger at the next
// address.

TEST_F(HostileLink, AStrangersConnectRepliesAndDataDoNotMoveTheLink) {
  connect_and_stream(190, 191);
  // Busy and accept replies, a disconnect acknowledgement and data packets numbered far ahead
  // (the stranger's samples would break the 1 ms steps of the tracker's).
  stranger_.flood([](uint32_t i) {
    return std::vector<Packet>{
        connect_from(lvxsim::kConnectBusy), connect_from(lvxsim::kConnectAck),
        connect_from(lvxsim::kDisconnectAck), data_from(0x7FFFFFF0u + i, 5 + i)};
  });
  expect_stream_untouched(800);
  expect_link_held();
  expect_commands_from_tracker();
  expect_clock_true();
  stranger_.stop();
  EXPECT_GT(stranger_.rounds(), 100u);
  expect_stream_untouched(200);
  EXPECT_EQ(lumavex_is_connected(), 1);
}

TEST_F(HostileLink, ForgedStatusPacketsChangeNoResultModeCalibrationOrClock) {
  connect_and_stream(192, 193);
  // Serials are predictable: the next command's is one more than the last one's.
  expect_commands_from_tracker();
  auto next_serial = std::make_shared<std::atomic<uint32_t>>(last_serial_at_tracker() + 1);
  // Results for the serials the next commands will carry, a calibration report, and headers
  // with a user-menu mode word, the state flag raised, the playback bit and a time stamp far
  // ahead.
  stranger_.flood([next_serial](uint32_t i) {
    std::vector<Packet> round;
    const uint32_t base = next_serial->load();
    for (uint32_t s = base; s < base + 4; ++s) {
      round.push_back(status_from(s, 22, static_cast<uint16_t>(-kForgedResult), "forged", 7, 1,
                                  0x02, kFarAheadMs + i));
    }
    round.push_back(status_from(0, 103, 5, "forged calibration", 7, 1, 0x02, kFarAheadMs + i));
    return round;
  });
  for (int round = 0; round < 3; ++round) {
    expect_commands_from_tracker();
    *next_serial = last_serial_at_tracker() + 1;
  }
  expect_stream_untouched(500);
  EXPECT_EQ(lumavex_cal_result(), 1000);
  char cal[100] = {};
  EXPECT_EQ(lumavex_cal_message(cal), 0);
  EXPECT_STREQ(cal, "");
  EXPECT_EQ(lumavex_tracker_mode(), 0);
  EXPECT_EQ(lumavex_current_mode() & IN_PLAYBACK_MODE, 0);
  EXPECT_EQ(lumavex_data_status()->header_byte18, 0);
  expect_clock_true();
  expect_link_held();
  // The playback bit made the display ask for playback data: none was asked for.
  for (const lvxsim::ReceivedPacket &p : sim().received()) {
    EXPECT_FALSE(p.bytes.size() >= 30 && p.bytes[0] == COMMAND_PKT && p.bytes[25] == 61);
  }
}

TEST_F(HostileLink, AnotherTrackersPacketsDoNotMoveTheClock) {
  connect_and_stream(194, 195);
  // A left-over tracker whose clock runs 3 s ahead: bursts of keep-alives and poll replies that
  // agree with each other, enough to confirm a jump were they taken.
  const int64_t ahead_ms = (sim().now_us() + 3000000) / 1000;
  stranger_.flood([ahead_ms](uint32_t i) {
    const auto t = static_cast<uint32_t>(ahead_ms + i / 5);
    std::vector<Packet> burst;
    for (int k = 0; k < 5; ++k) burst.push_back(status_from(0, 128, 0, "", 0, 0, 0, t));
    burst.push_back(connect_from(lvxsim::kTrackerPollReply, t));
    burst.push_back(connect_from(lvxsim::kPollRemotes, t));
    return burst;
  });
  // Twelve estimates, 50 ms apart, all within a few ms of the tracker's clock.
  for (int i = 0; i < 12; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    expect_clock_true();
  }
  expect_stream_untouched(300);
  expect_link_held();
}

// The tracker falls silent (it neither hears nor speaks) while another program's keep-alives
// keep coming: the link is marked disconnected all the same, and only the tracker's own next
// packet brings it back, without a new handshake.
TEST_F(HostileLink, AnotherProgramsTrafficDoesNotHideASilentTracker) {
  // Silence is 100 receive time-outs: 2 s with 20 ms time-outs.
  lvx::set_receive_timeout_for_testing(20);
  connect_and_stream(196, 197);
  sim().stop_streaming();
  // Keep-alives from another program arrive far more often than the receive time-out.
  stranger_.flood([](uint32_t) { return std::vector<Packet>{status_from(0, 128, 0, "")}; });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto silenced = std::chrono::steady_clock::now();
  sim().set_silent(true);
  ASSERT_TRUE(wait_until([] { return lumavex_is_connected() == 0; }, 6000));
  EXPECT_GE(simtest::ms_since(silenced), 1700);
  // The stranger's packets do not bring the connection back.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(lumavex_is_connected(), 0);
  EXPECT_GT(stranger_.rounds(), 100u);
  sim().set_silent(false);
  sim().clear_received();
  ASSERT_TRUE(sim().client().has_value());
  ASSERT_TRUE(sim().send_node_message({'b', 'a', 'c', 'k'}, *sim().client()));
  ASSERT_TRUE(wait_until([] { return lumavex_is_connected() == 1; }));
  EXPECT_FALSE(sim().wait_for([](const auto &p) { return simtest::is_connect(p, 2); }, 10));
}

TEST_F(HostileLink, ShortDatagramsCostNoOtherDatagram) {
  connect_and_stream(198, 199);
  // 19 bytes opening like a data packet, and node messages of 3 payload bytes (8-byte
  // datagrams).
  Packet nineteen(19, 0xA5);
  nineteen[0] = DATA_PKT;
  nineteen[1] = 20;
  // (The stranger sends its node messages first, then only short datagrams.)
  stranger_.flood([nineteen](uint32_t i) {
    if (i < 20)
      return std::vector<Packet>{lvxsim::build::node_packet({'s', 't', static_cast<uint8_t>(i)})};
    return std::vector<Packet>{nineteen};
  });
  // The tracker's own short node message arrives whole too.
  ASSERT_TRUE(sim().client().has_value());
  ASSERT_TRUE(sim().send_node_message({'t', 'r', 'k'}, *sim().client()));
  expect_stream_untouched(800);
  stranger_.stop();
  LVXADDR from{};
  uint8_t data[420] = {};
  int from_stranger = 0;
  int from_tracker = 0;
  for (int i = 0; i < 100; ++i) {
    const int16_t n = lumavex_node_receive(&from, data);
    if (n == 0) break;
    ASSERT_EQ(n, 3);
    if (data[0] == 's') {
      EXPECT_EQ(data[2], from_stranger);
      ++from_stranger;
    } else {
      EXPECT_EQ(std::memcmp(data, "trk", 3), 0);
      ++from_tracker;
    }
  }
  EXPECT_EQ(from_stranger, 20);
  EXPECT_EQ(from_tracker, 1);
  expect_commands_from_tracker();
  expect_clock_true();
  expect_link_held();
}

TEST_F(HostileLink, RandomDatagramsAndAnOversizedItemAreaNeverDeafenTheLink) {
  connect_and_stream(153, 154);
  // 30 windows of 500 random datagrams: random lengths, many with a header length of 20 and one
  // of the link's packet types in front.
  std::mt19937 random(12345);
  constexpr uint8_t kTypes[] = {1, 2, 3, 4, 5, 6, 7, 0x63, 0xFF};
  for (int window = 0; window < 30; ++window) {
    for (int i = 0; i < 500; ++i) {
      Packet p(1 + random() % 1500);
      for (uint8_t &b : p) b = static_cast<uint8_t>(random());
      if (p.size() >= 2 && random() % 2 == 0) {
        p[0] = kTypes[random() % sizeof kTypes];
        p[1] = 20;
      }
      stranger_.send(p);
    }
    const StreamCheck c = read_stream(30);
    EXPECT_EQ(c.lost, 0u) << "window " << window;
    EXPECT_EQ(c.out_of_step, 0u) << "window " << window;
  }
  // The tracker itself sends a data packet whose item area claims 4,050 bytes in a datagram of
  // 1,400: it is dropped, and nothing after it is spoilt.
  Packet big = data_from(0, 0);
  big.resize(1400, 0);
  lvx::put_u16(lvx::MutableBytes(big), 20, 4050);
  ASSERT_TRUE(sim().client().has_value());
  ASSERT_TRUE(sim().send_raw_udp(big, *sim().client()));
  expect_stream_untouched(500);
  expect_commands_from_tracker();
  expect_clock_true();
  expect_link_held();
}

TEST_F(HostileLink, ATrackerRestartMidStreamIsReportedThenDataFlows) {
  connect_and_stream(155, 156);
  ASSERT_GE(read_stream(500, 300).samples, 300u);
  // The tracker restarts on the same address and port, and the application connects again.
  lvxsim::Config c = sim().config();
  c.udp_port = sim().udp_endpoint().port;
  sim().stop();
  sim_.emplace(c);
  std::string error;
  ASSERT_TRUE(sim().start(&error)) << error;
  ASSERT_EQ(lumavex_open(), 0);
  lvxsim::StreamConfig s;
  s.rate_hz = 1000;
  s.events = false;
  ASSERT_TRUE(sim().start_streaming(s));
  // Its stream starts again at a low data sequence number: a lost-data record, then its samples.
  size_t lost = 0;
  size_t after = 0;
  float_data slots[64];
  for (int round = 0; round < 3000 && after < 300; ++round) {
    const int n = lumavex_wait_for_next_data(slots, 64, 1);
    for (int i = 0; i < n; ++i) {
      if (slots[i].head.type == EV_LOST_DATA) ++lost;
      if (slots[i].head.type == EV_SAMPLE && lost > 0) ++after;
    }
  }
  EXPECT_EQ(lost, 1u);
  EXPECT_GE(after, 300u);
  EXPECT_EQ(lumavex_is_connected(), 1);
}

}  // namespace
