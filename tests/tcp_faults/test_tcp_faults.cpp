// Faults of the TCP-only link and of the tracker at its other end: a frame with a bad prefix, a
// length over the limit, garbage, the tracker closing the connection (within a frame or between
// frames) and a tracker that stops reading. Each must leave the library promptly not connected,
// with calls failing at once with the not-connected result, and a new open must bring up a fresh
// connection. Trackers 127.0.0.168 and 171..173.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "integration/sim_fixture.h"
#include "link/transport.h"

namespace {

using simtest::ms_since;
using simtest::wait_until;

class TcpFaults : public simtest::SimTest {
 protected:
  // Connects over TCP to tracker n, empties the tracker's records and has it answer "echo" with
  // -5. False when TCP-only can no longer be chosen in this process.
  bool connect_tcp_clean(int n) {
    if (!connect_tcp(n)) return false;
    sim().clear_received();
    sim().set_command_rule("echo", {-5, 0, true, {}});
    return true;
  }

  // The link goes down within a second, and calls then fail at once.
  static void expect_down_promptly() {
    ASSERT_TRUE(wait_until([] { return lumavex_is_connected() == 0; }, 1000));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(lumavex_timed_command(2000, "echo down"), LINK_TERMINATED_RESULT);
    EXPECT_EQ(lumavex_send_command("echo down"), LINK_TERMINATED_RESULT);
    EXPECT_LT(ms_since(start), 100);
    EXPECT_TRUE(lvx::transport_broken());
  }

  // The ways an application opens the link again.
  enum class Reopen {
    kConnection,         // open_lumavex_connection(0)
    kSystemThenTracker,  // open_lumavex_system, then lumavex_open
    kTrackerAlone,       // lumavex_open, the system left open
  };

  // A new open connects afresh, and commands are answered again.
  void expect_reconnects(Reopen how = Reopen::kConnection) {
    if (how == Reopen::kConnection) {
      ASSERT_EQ(open_lumavex_connection(0), 0);
    } else {
      if (how == Reopen::kSystemThenTracker) {
        ASSERT_EQ(open_lumavex_system(0, nullptr), -1);
      }
      ASSERT_EQ(lumavex_open(), 0);
    }
    EXPECT_EQ(lumavex_is_connected(), 1);
    EXPECT_FALSE(lvx::transport_broken());
    EXPECT_EQ(lumavex_timed_command(2000, "echo again"), -5);
    EXPECT_TRUE(sim().tcp_client_connected());
  }
};

#define REQUIRE_TCP(n) \
  if (!connect_tcp_clean(n)) GTEST_SKIP() << "TCP-only not available in this process"

// Corrupt streams: a bad prefix (after a whole frame, which is still delivered), a length over
// the limit (1501 bytes announced, and sent: a reader that believed it would swallow the next
// frames) and noise after a proper first byte (caught at the second byte, without waiting for
// more). A command waiting for its result when the fault comes returns at once, not at its
// time-out.
TEST_F(TcpFaults, CorruptStreams) {
  REQUIRE_TCP(168);
  sim().set_command_rule("hold", {0, 0, false, {}});  // never answered
  std::vector<uint8_t> bad_prefix =
      lvxsim::SimTracker::frame_tcp(lvxsim::build::node_packet(std::vector<uint8_t>(20, 'k')));
  bad_prefix.insert(bad_prefix.end(), {'X', 'Y', 0, 8, 1, 2, 3, 4, 5, 6, 7, 8});
  std::vector<uint8_t> too_long(4 + 1501, 0);
  too_long[0] = 'L';
  too_long[1] = 'V';
  too_long[2] = 0x05;
  too_long[3] = 0xDD;
  const struct {
    const char *what;
    std::vector<uint8_t> bytes;
    int whole_frames;
    Reopen reopen;
  } faults[] = {
      {"bad prefix", bad_prefix, 1, Reopen::kConnection},
      {"length over the limit", too_long, 0, Reopen::kConnection},
      {"noise", {'L', 123, 143, 172}, 0, Reopen::kSystemThenTracker},
  };
  for (const auto &f : faults) {
    SCOPED_TRACE(f.what);
    sim().run_later(100, [this, bytes = f.bytes] { sim().send_raw_tcp(bytes); });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(lumavex_timed_command(5000, "hold"), LINK_TERMINATED_RESULT);
    EXPECT_LT(ms_since(start), 1000);
    expect_down_promptly();
    uint8_t data[420];
    for (int i = 0; i < f.whole_frames; ++i) EXPECT_EQ(lumavex_node_receive(nullptr, data), 20);
    EXPECT_EQ(lumavex_node_receive(nullptr, data), 0);
    expect_reconnects(f.reopen);
  }
}

TEST_F(TcpFaults, TrackerClosesWithinAFrame) {
  REQUIRE_TCP(171);
  auto frame = lvxsim::SimTracker::frame_tcp(lvxsim::build::node_packet({'c', 'u', 't'}));
  ASSERT_TRUE(sim().send_raw_tcp(std::vector<uint8_t>(frame.begin(), frame.begin() + 11)));
  ASSERT_TRUE(sim().close_tcp_connection());
  expect_down_promptly();
  uint8_t data[420];
  EXPECT_EQ(lumavex_node_receive(nullptr, data), 0);  // the cut frame is never delivered
  expect_reconnects();
}

TEST_F(TcpFaults, TrackerClosesBetweenFrames) {
  REQUIRE_TCP(172);
  ASSERT_TRUE(sim().close_tcp_connection());
  expect_down_promptly();
  expect_reconnects(Reopen::kTrackerAlone);
}

// The tracker stops reading while the application keeps sending: the socket buffers fill, and a
// send that cannot go whole within its time limit declares the link broken. The stream never
// goes on after a frame left half sent: what the tracker reads once it reads again is whole
// commands in the order sent, then the end of the stream. (What was still queued on the
// display's side when the link broke is lost with the connection.)
TEST_F(TcpFaults, TrackerStopsReading) {
  REQUIRE_TCP(173);
  sim().pause_tcp_reading(true);
  int sent = 0;
  int16_t r = 0;
  int64_t slowest_ms = 0;
  auto start = std::chrono::steady_clock::now();
  char text[920];
  auto command = [&text](int i) {
    std::snprintf(text, sizeof text, "echo %06d %0900d", i, 0);
    return std::string(text);
  };
  for (int i = 0; i < 100000 && ms_since(start) < 20000; ++i) {
    std::string c = command(i);
    auto t0 = std::chrono::steady_clock::now();
    r = lumavex_send_command(c.c_str());
    slowest_ms = std::max(slowest_ms, ms_since(t0));
    if (r != 0) break;
    ++sent;
  }
  ASSERT_EQ(r, LINK_TERMINATED_RESULT) << "after " << sent << " commands";
  EXPECT_LT(slowest_ms, 3000);  // one frame may wait 2 s for room, no longer
  expect_down_promptly();

  sim().pause_tcp_reading(false);
  ASSERT_TRUE(wait_until([&] { return !sim().tcp_client_connected(); }, 5000));
  std::vector<std::string> log = sim().command_log();
  ASSERT_FALSE(log.empty());
  ASSERT_LE(log.size(), static_cast<size_t>(sent));
  for (size_t i = 0; i < log.size(); ++i) ASSERT_EQ(log[i], command(static_cast<int>(i))) << i;
  expect_reconnects();
}

}  // namespace
