// Opening and closing the link system, dummy and quiet modes, names, polls, silence detection and
// the TCP stream framing. (Faults of the TCP stream are in tcp_faults/.)
#include <pthread.h>

#include <chrono>

#include "common/byte_io.h"
#include "data/data_stream.h"
#include "library/lifecycle.h"
#include "link/log.h"
#include "platform/net.h"
#include "platform/thread_priority.h"
#include "sim_fixture.h"

namespace {

using simtest::is_command;
using simtest::is_connect;
using simtest::wait_until;

class Lifecycle : public simtest::SimTest {};

TEST_F(Lifecycle, OpenWithoutConnectionAndTheNetworkStartedFlag) {
  lvx::set_local_addresses_for_testing(std::vector<lvx::IPv4>{simtest::own_ip(30)});
  EXPECT_EQ(lumavex_open_node(nullptr, 0), LINK_NOT_OPEN_RESULT);
  EXPECT_EQ(lumavex_poll_trackers(), LINK_NOT_OPEN_RESULT);
  EXPECT_EQ(open_lumavex_connection(-1), 0);
  EXPECT_EQ(lumavex_is_connected(), 0);
  // Once the network has run, TCP-only can no longer be chosen, even after closing.
  close_lumavex_connection();
  EXPECT_EQ(set_lumavex_tcp_only(1), -1);
}

TEST_F(Lifecycle, QueueSizes) {
  EXPECT_EQ(lvx::adjusted_queue_size(0), 30000u);
  EXPECT_EQ(lvx::adjusted_queue_size(9999), 30000u);
  EXPECT_EQ(lvx::adjusted_queue_size(20000), 20000u);
  EXPECT_EQ(lvx::adjusted_queue_size(60000), 60000u);
  lvx::set_local_addresses_for_testing(std::vector<lvx::IPv4>{simtest::own_ip(31)});
  ASSERT_EQ(open_lumavex_system(20000, nullptr), -1);
  EXPECT_TRUE(lvx::link_system().scripting_host);
  // Every request below a million bytes gets the full ten-million-byte queue.
  EXPECT_EQ(lvx::data_queue_capacity(), 10000000u);
}

TEST_F(Lifecycle, DummyModeRefusedWhileConnectedThenKeepsItsOwnModes) {
  float_data slot;
  EXPECT_EQ(lumavex_get_next_data(&slot), 0);  // no link yet: no data
  EXPECT_EQ(lumavex_newest_float_sample(&slot), -1);
  start_tracker(32);
  ASSERT_EQ(open_lumavex_connection(0), 0);
  EXPECT_EQ(lumavex_dummy_open(), -1);  // refused while connected
  EXPECT_EQ(lumavex_is_connected(), 1);
  close_lumavex_connection();
  ASSERT_EQ(open_lumavex_connection(1), 0);
  EXPECT_EQ(lumavex_is_connected(), -1);
  EXPECT_EQ(lumavex_send_command("anything at all"), 0);
  EXPECT_EQ(lumavex_command_result(), 0);
  EXPECT_EQ(lumavex_start_setup(), 0);
  EXPECT_EQ(lumavex_tracker_mode(), 3);
  EXPECT_EQ(set_offline_mode(), 0);
  EXPECT_EQ(lumavex_tracker_mode(), 1);  // dummy mode idles itself
  // A recording of both eyes and every sample field, ready at once, that never delivers data.
  EXPECT_EQ(lumavex_data_start(0x0F, 0), 0);
  EXPECT_EQ(lumavex_tracker_mode(), 14);
  EXPECT_EQ(lumavex_wait_for_mode_ready(100), 1);
  EXPECT_EQ(lumavex_eye_available(), 2);
  EXPECT_EQ(lumavex_in_data_block(1, 1), 1);
  EXPECT_EQ(lumavex_wait_for_block_start(100, 1, 1), 1);
  EXPECT_EQ(lumavex_sample_data_flags(), 0xFFFF);
  EXPECT_EQ(lumavex_event_data_flags(), -1);
  EXPECT_EQ(lumavex_wait_for_next_data(&slot, 1, 1), 0);
  EXPECT_EQ(lumavex_newest_float_sample(nullptr), -1);
  EXPECT_EQ(lumavex_mode_data(nullptr, nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(lumavex_cal_result(), 1000);
  EXPECT_EQ(lumavex_read_request("screen_pixel_coords"), 0);
  char reply[200];
  EXPECT_EQ(lumavex_read_reply(reply), 1000);
  EXPECT_EQ(lumavex_abort(), 0);
  EXPECT_EQ(lumavex_tracker_mode(), 1);
  EXPECT_EQ(lumavex_close(0), 0);
  EXPECT_EQ(lumavex_is_connected(), 0);
}

TEST_F(Lifecycle, QuietModeSuppressesCommandsAndLocksWhenNegative) {
  start_tracker(34);
  ASSERT_EQ(open_lumavex_connection(0), 0);
  ASSERT_TRUE(sim().wait_for([](const auto &p) { return p.bytes[0] == COMMAND_PKT; }, 2000));
  sim().clear_received();
  EXPECT_EQ(lumavex_quiet_mode(1), 0);
  EXPECT_EQ(lumavex_send_command("record_status_message 'hello'"), 0);
  EXPECT_EQ(lumavex_timed_command(200, "more"), 0);
  EXPECT_EQ(lumavex_quiet_mode(0), 1);
  EXPECT_EQ(lumavex_timed_command(2000, "record_status_message 'now'"), 0);
  EXPECT_TRUE(sim().wait_for(
      [](const auto &p) { return is_command(p, "record_status_message 'now'"); }, 1000));
  EXPECT_FALSE(sim().wait_for([](const auto &p) { return is_command(p, "more"); }, 10));
  EXPECT_EQ(lumavex_quiet_mode(-1), 0);
  EXPECT_EQ(lumavex_quiet_mode(0), -1);
  EXPECT_EQ(lumavex_quiet_mode(2), -1);
}

TEST_F(Lifecycle, NameSetAfterOpenGoesOutInConnectPackets) {
  start_tracker(36);
  ASSERT_EQ(open_lumavex_connection(-1), 0);
  lumavex_set_name("display one   ");
  ASSERT_EQ(lumavex_open(), 0);
  auto p = sim().wait_for([](const auto &q) { return is_connect(q, 2); }, 1000);
  ASSERT_TRUE(p);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(&p->bytes[66])), "display one");
  // Opening again without options only resets the link: the name stays.
  ASSERT_EQ(open_lumavex_system(0, nullptr), -1);
  LVXNODE own{};
  ASSERT_EQ(lumavex_get_node(0, &own), 0);
  EXPECT_STREQ(own.name, "display one");
}

TEST_F(Lifecycle, OpenWithOptionsRestartsTheTransport) {
  lvx::set_local_addresses_for_testing(std::vector<lvx::IPv4>{simtest::own_ip(37)});
  ASSERT_EQ(open_lumavex_system(0, nullptr), -1);
  lumavex_set_name("before restart");
  ASSERT_EQ(open_lumavex_system(0, "remport=0x1270 eyeport=700"), -1);
  EXPECT_EQ(lvx::bound_port(), 0x1270);
  LVXNODE node{};
  ASSERT_EQ(lumavex_get_node(-1, &node), 0);
  EXPECT_EQ(lvx::address_port(node.addr), 700);
  EXPECT_STREQ(node.name, "eye broadcast");
  ASSERT_EQ(lumavex_get_node(-2, &node), 0);
  EXPECT_EQ(lvx::address_port(node.addr), 0x1270);
  EXPECT_STREQ(node.name, "rem broadcast");
  ASSERT_EQ(lumavex_get_node(0, &node), 0);
  EXPECT_EQ(lvx::address_ip(node.addr), simtest::own_ip(37));
  EXPECT_STRNE(node.name, "before restart");  // the restart cleared the link state
}

TEST_F(Lifecycle, BindMovesUpWhenThePortIsTaken) {
  int err = 0;
  lvx::platform::Socket blocker = lvx::platform::Socket::udp(&err);
  ASSERT_EQ(blocker.bind({{0, 0, 0, 0}, 0x1280}), 0);
  lvx::set_local_addresses_for_testing(std::vector<lvx::IPv4>{simtest::own_ip(38)});
  ASSERT_EQ(open_lumavex_system(0, "remport=0x1280"), -1);
  EXPECT_GT(lvx::bound_port(), 0x1280);
  EXPECT_LE(lvx::bound_port(), 0x1280 + 10);
}

class Polls : public simtest::SimTest {};

TEST_F(Polls, TrackerPollRestrictedToLoopback) {
  lvxsim::Config c;
  c.node_name = "poll-me";
  c.poll_listen_ip = lvxsim::IPv4{127, 40, 0, 255};
  start_tracker(40, c);
  ASSERT_EQ(open_lumavex_connection(-1), 0);
  ASSERT_EQ(lumavex_poll_trackers(), 0);
  ASSERT_TRUE(wait_until([] { return lumavex_poll_responses() == 1; }));
  LVXNODE node{};
  ASSERT_EQ(lumavex_get_node(1, &node), 0);
  EXPECT_STREQ(node.name, "poll-me");
  EXPECT_EQ(lvx::address_ip(node.addr), (lvx::IPv4{127, 0, 0, 40}));
  EXPECT_EQ(lumavex_get_node(2, &node), -1);
  EXPECT_EQ(lumavex_get_node(-3, &node), -1);
  auto poll = sim().wait_for([](const auto &p) { return is_connect(p, 0x11); }, 1000);
  ASSERT_TRUE(poll);
  EXPECT_EQ(poll->bytes.size(), 136u);
}

TEST_F(Polls, RemotePollIsAnsweredWithOurName) {
  start_tracker(41);
  // A port of our own, so that the remote poll below reaches no other test's display.
  ASSERT_EQ(open_lumavex_system(0, "remport=0x1290"), -1);
  lumavex_set_name("answering display");
  LVXADDR tracker{};
  text_to_lvxaddr("127.0.0.41", &tracker, 0);
  // The simulated tracker, acting as another display, polls us directly.
  std::vector<uint8_t> poll =
      lvxsim::build::connect_packet(0x12, 3, 2, "", "other", "QX VELOTRIS LUMAVEX");
  ASSERT_TRUE(sim().send_raw_udp(poll, {{127, 0, 0, 1}, lvx::bound_port()}));
  auto reply = sim().wait_for([](const auto &p) { return is_connect(p, 0x92); }, 2000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(&reply->bytes[66])), "answering display");
  // Our own remote poll goes to 127.41.0.255 on our port and so reaches our own socket from
  // 127.0.0.1, which is not in the restricted address list: we answer ourselves and hear the
  // reply like any other remote's.
  EXPECT_EQ(lumavex_poll_remotes(), 0);
  ASSERT_TRUE(wait_until([] { return lumavex_poll_responses() == 1; }));
  LVXNODE node{};
  ASSERT_EQ(lumavex_get_node(1, &node), 0);
  EXPECT_STREQ(node.name, "answering display");
  EXPECT_EQ(lvx::address_port(node.addr), lvx::bound_port());
}

TEST_F(Polls, OwnBroadcastsAreDropped) {
  start_tracker(42);
  ASSERT_EQ(open_lumavex_connection(-1), 0);
  int err = 0;
  lvx::platform::Socket own = lvx::platform::Socket::udp(&err);
  ASSERT_EQ(own.bind({simtest::own_ip(42), 0}), 0);
  std::vector<uint8_t> msg = lvxsim::build::node_packet(std::vector<uint8_t>(20, 'm'));
  lvx::platform::Endpoint us{{127, 0, 0, 1}, lvx::bound_port()};
  ASSERT_GT(own.send_to(msg.data(), msg.size(), us), 0);
  ASSERT_TRUE(sim().send_raw_udp(msg, us));
  char data[420];
  ASSERT_TRUE(wait_until([&] { return lumavex_node_receive(nullptr, data) == 20; }));
  // Only the tracker's copy arrived; ours was dropped by its sender address.
  msec_delay(50);
  EXPECT_EQ(lumavex_node_receive(nullptr, data), 0);
}

class Silence : public simtest::SimTest {};

// (Silence over UDP, among another program's traffic, is in hostile/.)
TEST_F(Silence, SilentTcpTrackerIsMarkedDisconnectedAndRecovers) {
  lvx::set_receive_timeout_for_testing(10);
  if (!connect_tcp(610)) GTEST_SKIP() << "TCP-only not available in this process";
  ASSERT_TRUE(wait_until([] { return lumavex_is_connected() == 0; }, 5000));
  EXPECT_FALSE(lvx::transport_broken());  // silent, not broken: the connection is kept
  sim().clear_received();
  ASSERT_TRUE(sim().send_raw_tcp(lvxsim::SimTracker::frame_tcp(lvxsim::build::node_packet({'b'}))));
  ASSERT_TRUE(wait_until([] { return lumavex_is_connected() == 1; }));
  EXPECT_FALSE(sim().wait_for([](const auto &p) { return is_connect(p, 2); }, 10));
}

// The tracker's own short datagram is carried for a continuation that does not come: the packets
// of its next datagram still arrive.
TEST_F(Silence, AShortDatagramFromTheTrackerCostsNothingAfterIt) {
  connect_to_tracker(611);
  auto client = sim().client();
  ASSERT_TRUE(client);
  sim().set_command_rule("echo", {-5, 0, true, {}});
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(sim().send_raw_udp({STATUS_PKT, 20, 0, 0, 1, 2, 3, 4, 5, 6}, *client));
    EXPECT_EQ(lumavex_timed_command(1000, "echo"), -5) << i;
  }
}

using TcpStream = simtest::SimTest;

TEST_F(TcpStream, FrameSplitAcrossTwoReceivesIsDispatchedOnceAndWhole) {
  if (!connect_tcp(45)) GTEST_SKIP() << "TCP-only not available in this process";
  std::vector<uint8_t> payload(40);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i);
  auto frame = lvxsim::SimTracker::frame_tcp(lvxsim::build::node_packet(payload));
  std::vector<uint8_t> first(frame.begin(), frame.begin() + 17);
  std::vector<uint8_t> second(frame.begin() + 17, frame.end());
  ASSERT_TRUE(sim().send_raw_tcp(first));
  msec_delay(50);
  uint8_t data[420] = {};
  EXPECT_EQ(lumavex_node_receive(nullptr, data), 0);
  ASSERT_TRUE(sim().send_raw_tcp(second));
  ASSERT_TRUE(wait_until([&] { return lumavex_node_receive(nullptr, data) == 40; }));
  EXPECT_EQ(data[39], 39);
  msec_delay(20);
  EXPECT_EQ(lumavex_node_receive(nullptr, data), 0);
}

// Waits over TCP sleep on the packet event: a command nobody answers costs its waiting thread
// little processor time, not a busy loop for the whole wait.
TEST_F(TcpStream, WaitsSleepInsteadOfSpinning) {
  if (!connect_tcp(48)) GTEST_SKIP() << "TCP-only not available in this process";
  sim().set_command_rule("echo", {0, 0, false, {}});
  const double cpu0 = lvx::platform::thread_cpu_seconds(pthread_self());
  EXPECT_EQ(lumavex_timed_command(500, "echo unanswered"), NO_REPLY);
  float_data slot;
  EXPECT_EQ(lumavex_wait_for_next_data(&slot, 1, 0), 0);  // 20 rounds of up to 10 ms
  const double cpu = lvx::platform::thread_cpu_seconds(pthread_self()) - cpu0;
  EXPECT_LT(cpu, 0.1) << "of about 0.7 s of waiting";
}

}  // namespace
