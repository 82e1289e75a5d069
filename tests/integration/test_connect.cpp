// Connecting, talking and disconnecting over both transports, against the simulated tracker.
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "common/byte_io.h"
#include "link/packets.h"
#include "platform/net.h"
#include "sim_fixture.h"

namespace {

using simtest::is_command;
using simtest::is_connect;
using simtest::wait_until;

enum class Transport { kUdp, kTcp };

class Link : public simtest::SimTest, public testing::WithParamInterface<Transport> {
 protected:
  // Starts tracker n and selects the transport under test; skips when TCP-only can no longer be
  // chosen in this process.
  void start(uint8_t n, lvxsim::Config config = {}) {
    config.enable_tcp = GetParam() == Transport::kTcp;
    if (config.enable_tcp && !use_tcp()) GTEST_SKIP() << "network already started in-process";
    // The two transports' runs of a test may run side by side: give each its own address.
    start_tracker(static_cast<uint8_t>(config.enable_tcp ? n + 100 : n), config);
  }
  bool tcp() const { return GetParam() == Transport::kTcp; }
};

TEST_P(Link, ConnectLearnsTheTrackerAndSendsTheUpdateInterval) {
  lvxsim::Config c;
  c.node_name = "bench-tracker";
  c.version_text = "LUMAVEX RX 5.7";
  start(10, c);
  lumavex_set_name("ignored before open");
  ASSERT_EQ(open_lumavex_connection(0), 0);
  EXPECT_EQ(lumavex_is_connected(), 1);
  char text[40] = {};
  EXPECT_EQ(lumavex_get_tracker_version(text), 3);
  EXPECT_STREQ(text, "LUMAVEX RX 5.7");

  auto request = sim().wait_for([](const auto &p) { return is_connect(p, 2); }, 2000);
  ASSERT_TRUE(request);
  EXPECT_EQ(request->via_tcp, tcp());
  const auto &b = request->bytes;
  EXPECT_EQ(b[1], 20);
  EXPECT_EQ(b[21], 3);
  EXPECT_EQ(b[22], 2);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(&b[106])), "QX VELOTRIS LUMAVEX");
  // The open replaced the name set before it by the host's name.
  std::string own(reinterpret_cast<const char *>(&b[66]));
  EXPECT_NE(own, "ignored before open");
  EXPECT_NE(own, "Remote");
  EXPECT_FALSE(own.empty());

  EXPECT_TRUE(sim().wait_for(
      [](const auto &p) { return is_command(p, "link_update_interval = 50"); }, 2000));
  LVXNODE tracker_node{};
  EXPECT_EQ(lumavex_get_node(0, &tracker_node), 0);
  EXPECT_STREQ(tracker_node.name, own.c_str());
}

TEST_P(Link, CloseIdlesTheTrackerClosesItsFileAndDisconnects) {
  start(11);
  ASSERT_EQ(open_lumavex_connection(0), 0);
  sim().clear_received();
  close_lumavex_connection();
  EXPECT_EQ(lumavex_is_connected(), 0);
  // The tracker handles packets on its own thread: wait for the last one before looking.
  ASSERT_TRUE(sim().wait_for([](const auto &p) { return is_connect(p, 0x10); }, 2000));
  auto packets = sim().received();
  auto find = [&](auto pred) {
    for (size_t i = 0; i < packets.size(); ++i)
      if (pred(packets[i])) return static_cast<int>(i);
    return -1;
  };
  int idle = find([](const auto &p) { return is_command(p, "set_idle_mode"); });
  int close_file = find([](const auto &p) { return is_command(p, "close_data_file"); });
  int disconnect = find([](const auto &p) { return is_connect(p, 0x10); });
  ASSERT_GE(idle, 0);
  ASSERT_GE(close_file, 0);
  ASSERT_GE(disconnect, 0);
  EXPECT_LT(idle, close_file);
  EXPECT_LT(close_file, disconnect);
}

TEST_P(Link, NodeMessagesBothWays) {
  start(12);
  ASSERT_EQ(open_lumavex_connection(0), 0);
  auto client = sim().client();
  ASSERT_TRUE(client);
  std::vector<uint8_t> hello(30, 'x');
  ASSERT_TRUE(sim().send_node_message(hello, *client));
  char data[420] = {};
  LVXADDR from{};
  ASSERT_TRUE(wait_until([&] { return lumavex_node_receive(&from, data) == 30; }));
  EXPECT_EQ(data[29], 'x');

  // Node messages go to the tracker's UDP port, even when the link runs over TCP.
  const LVXADDR tracker = tracker_udp_address();
  std::vector<uint8_t> big(421, 'y');
  EXPECT_EQ(lumavex_node_send(&tracker, big.data(), 421), -1);
  EXPECT_EQ(lumavex_node_send(&tracker, big.data(), 420), 0);
  ASSERT_TRUE(wait_until([&] { return !sim().node_messages().empty(); }));
  auto got = sim().node_messages();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].payload.size(), 420u);
  auto packet = sim().wait_for([](const auto &p) { return p.bytes[0] == NODE_PKT; }, 1000);
  ASSERT_TRUE(packet);
  EXPECT_EQ(packet->bytes.size(), 425u);
}

TEST_P(Link, TrackerDroppingTheConnectionIsNoticed) {
  start(13);
  ASSERT_EQ(open_lumavex_connection(0), 0);
  ASSERT_TRUE(sim().drop_connection());
  ASSERT_TRUE(wait_until([] { return lumavex_is_connected() == 0; }));
  EXPECT_EQ(lumavex_tracker_mode(), 0xFFFF);
}

TEST_P(Link, HeaderModeAndClockReachTheLibrary) {
  lvxsim::Config c;
  c.clock_offset_us = 7'000'000;
  c.keepalive_interval_ms = 2;
  start(14, c);
  lumavex_set_clock_base(QX_CLOCK_BASE_MACHINE_LOCAL);
  sim().set_mode(10, 0);
  ASSERT_EQ(open_lumavex_connection(0), 0);
  ASSERT_TRUE(wait_until([] { return lumavex_tracker_mode() == 10; }));
  // The estimate converges on the tracker's offset; loopback latency is far below the bound.
  ASSERT_TRUE(wait_until([] { return lumavex_double_msec_offset() > 6900.0; }));
  EXPECT_NEAR(lumavex_double_msec_offset(), 7000.0, 50.0);
  EXPECT_NEAR(static_cast<double>(lumavex_tracker_msec()) - current_time(), 7000.0, 50.0);
}

TEST_P(Link, FailureCodes) {
  start(15);
  ASSERT_EQ(open_lumavex_system(0, nullptr), -1);
  sim().set_connect_reply(lvxsim::ConnectReply::kBusy);
  EXPECT_EQ(lumavex_open(), CONNECT_BUSY_RESULT);
  EXPECT_EQ(lumavex_is_connected(), 0);
  sim().set_connect_reply(lvxsim::ConnectReply::kAccept);
  sim().set_protocol_major(2);
  EXPECT_EQ(lumavex_open(), CONNECT_VERSION_MISMATCH_RESULT);
  sim().set_protocol_major(3);
  EXPECT_EQ(lumavex_open(), 0);
  EXPECT_EQ(lumavex_close(0), 0);
}

INSTANTIATE_TEST_SUITE_P(Transports, Link, testing::Values(Transport::kUdp, Transport::kTcp),
                         [](const testing::TestParamInfo<Transport> &param_info) {
                           return param_info.param == Transport::kUdp ? std::string("Udp")
                                                                      : std::string("Tcp");
                         });

class Connect : public simtest::SimTest {};

TEST_F(Connect, NoReplyTimesOutWithTheProtocolVersionUntouched) {
  lvxsim::Config c;
  c.connect_reply = lvxsim::ConnectReply::kSilent;
  start_tracker(16, c);
  ASSERT_EQ(open_lumavex_system(0, nullptr), -1);
  uint32_t start = current_time();
  EXPECT_EQ(lumavex_open(), CONNECT_TIMEOUT_RESULT);
  EXPECT_GE(current_time() - start, 2000u);
  EXPECT_EQ(lvx::link_record().protocol_major, 3);
  // A reply later than the 2 s time-out is a time-out too.
  sim().set_connect_reply(lvxsim::ConnectReply::kAcceptLate);
  EXPECT_EQ(lumavex_open(), CONNECT_TIMEOUT_RESULT);
}

TEST_F(Connect, BusyTestAndBroadcastCodes) {
  start_tracker(18);
  ASSERT_EQ(open_lumavex_system(0, nullptr), -1);
  LVXADDR node{};
  ASSERT_EQ(text_to_lvxaddr("127.0.0.18", &node, 0), 0);
  EXPECT_EQ(lumavex_open_node(&node, 1), 0);
  EXPECT_TRUE(sim().wait_for([](const auto &p) { return is_connect(p, 1); }, 1000));
  EXPECT_EQ(lumavex_broadcast_open(), 0);
  EXPECT_EQ(lumavex_is_connected(), 2);
  EXPECT_TRUE(sim().wait_for([](const auto &p) { return is_connect(p, 3); }, 1000));
}

TEST_F(Connect, LargePacketsOnlyForTrackersThatTakeThem) {
  lvxsim::Config c;
  c.version_text = "LUMAVEX RX 4.56";
  start_tracker(19, c);
  ASSERT_EQ(open_lumavex_connection(0), 0);
  LVXADDR tracker = lvx::link_record().tracker_address;
  std::vector<uint8_t> packet(1022, 0);
  lvx::encode_plain_header(lvx::MutableBytes(packet), 9);
  EXPECT_EQ(lvx::xlink_send(&tracker, packet.data(), 581), LINK_TERMINATED_RESULT);
  EXPECT_EQ(lvx::xlink_send(&tracker, packet.data(), 580), 0);
  sim().set_version_text("LUMAVEX RX 5.7");
  ASSERT_EQ(lumavex_open(), 0);
  EXPECT_EQ(lvx::xlink_send(&tracker, packet.data(), 1022), 0);
  EXPECT_TRUE(sim().wait_for([](const auto &p) { return p.bytes.size() == 1022; }, 1000));
}

// open_lumavex_connection returns -1 for every failure and leaves the system open; its alert names
// the cause in Linux terms.
TEST_F(Connect, FailedConnectionAlertsNameTheCause) {
  auto alert_of_open = [] {
    testing::internal::CaptureStderr();
    EXPECT_EQ(open_lumavex_connection(0), -1);
    return testing::internal::GetCapturedStderr();
  };
  lvxsim::Config c;
  c.connect_reply = lvxsim::ConnectReply::kBusy;
  start_tracker(612, c);
  std::vector<std::string> alerts{alert_of_open()};
  EXPECT_NE(alerts.back().find("Lumavex Error: Connection failed"), std::string::npos);
  EXPECT_NE(alerts.back().find("busy"), std::string::npos) << alerts.back();
  EXPECT_EQ(lumavex_poll_responses(), 0);
  EXPECT_EQ(lumavex_open_node(nullptr, 0), -1);  // the system is open, the node is missing
  sim().set_connect_reply(lvxsim::ConnectReply::kAccept);
  sim().set_protocol_major(2);
  alerts.push_back(alert_of_open());
  EXPECT_NE(alerts.back().find("protocol"), std::string::npos) << alerts.back();
  close_lumavex_system();
  // Every local port the link may take (the first and the ten above it) is in use.
  std::vector<lvx::platform::Socket> taken;
  for (int attempt = 0; attempt < 20 && taken.size() < 11; ++attempt) {
    taken.clear();
    int err = 0;
    taken.push_back(lvx::platform::Socket::udp(&err));
    if (taken[0].bind({{0, 0, 0, 0}, 0}) != 0) continue;
    const uint16_t first = taken[0].local_endpoint().port;
    for (uint16_t port = first + 1; port <= first + 10; ++port) {
      lvx::platform::Socket s = lvx::platform::Socket::udp(&err);
      if (s.bind({{0, 0, 0, 0}, port}) != 0) break;
      taken.push_back(std::move(s));
    }
    lvx::transport_options().remote_port = first;
  }
  ASSERT_EQ(taken.size(), 11u);
  alerts.push_back(alert_of_open());
  EXPECT_NE(alerts.back().find("EADDRINUSE"), std::string::npos) << alerts.back();
  for (const std::string &a : alerts) {
    EXPECT_EQ(a.find("DLL"), std::string::npos) << a;
    EXPECT_FALSE(std::regex_search(a, std::regex("\\b100[0-9][0-9]\\b"))) << a;  // Winsock
  }
}

}  // namespace
