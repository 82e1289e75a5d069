// Shared set-up for tests of the library against the simulated tracker. Every test gives its
// tracker its own loopback address 127.0.0.N and restricts the library's own address list to
// loopback before the link opens, so nothing ever leaves the machine.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>

#include "link/link_state.h"
#include "link/transport.h"
#include "lumavex_core.h"
#include "sim/tracker.h"

namespace simtest {

// Polls `done` every millisecond for at most timeout_ms; true when it became true.
inline bool wait_until(const std::function<bool()> &done, int timeout_ms = 3000) {
  for (int i = 0; i < timeout_ms; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return done();
}

// Milliseconds since `since` on the steady clock.
inline int64_t ms_since(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               since)
      .count();
}

// A file's bytes; empty when it cannot be read.
inline std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  if (in) out << in.rdbuf();
  return out.str();
}

inline std::string dotted(const lvxsim::IPv4 &ip) {
  return std::to_string(ip[0]) + "." + std::to_string(ip[1]) + "." + std::to_string(ip[2]) + "." +
         std::to_string(ip[3]);
}

// Test number n (1..65535) names a tracker address of its own: 127.0.0.n for n below 256, and
// 127.0.<n / 256>.<n % 256> above, so that suites can take blocks of numbers without running out.
inline lvxsim::IPv4 tracker_ip(int n) {
  return {127, 0, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n & 0xFF)};
}

// The library's own address list for test n: 127.<n % 256>.<n / 256>.1, so that its broadcasts go
// to 127.<n % 256>.<n / 256>.255 and nowhere else.
inline lvx::IPv4 own_ip(int n) {
  return {127, static_cast<uint8_t>(n & 0xFF), static_cast<uint8_t>(n >> 8), 1};
}

inline bool is_command(const lvxsim::ReceivedPacket &p, const std::string &text) {
  if (p.bytes.size() < 30 || p.bytes[0] != COMMAND_PKT || p.bytes[25] != 22) return false;
  return std::string(reinterpret_cast<const char *>(p.bytes.data() + 28)) == text;
}

inline bool is_connect(const lvxsim::ReceivedPacket &p, uint8_t code) {
  return p.bytes.size() >= 136 && p.bytes[0] == CONNECT_PKT && p.bytes[20] == code;
}

class SimTest : public testing::Test {
 protected:
  // Test number n: tracker at tracker_ip(n), library addresses own_ip(n).
  void start_tracker(int n, lvxsim::Config config = {}) {
    config.ip = tracker_ip(n);
    config.enable_tcp = config.enable_tcp || serve_tcp_;
    sim_.emplace(config);
    std::string error;
    ASSERT_TRUE(sim_->start(&error)) << error;
    lvx::set_local_addresses_for_testing(std::vector<lvx::IPv4>{own_ip(n)});
    point_library_at_tracker();
    ASSERT_EQ(set_lumavex_address(dotted(config.ip).c_str()), 0);
  }

  // The tracker listens on ports the system chose; the library learns them as a user's program
  // would learn a tracker's ports (the UDP one through the "eyeport" option).
  void point_library_at_tracker() {
    lvx::TransportOptions &o = lvx::transport_options();
    o.tracker_port = sim_->udp_endpoint().port;
    if (sim_->config().enable_tcp) o.tracker_tcp_port = sim_->tcp_endpoint().port;
  }

  // The tracker's UDP link address, as the library addresses it.
  LVXADDR tracker_udp_address() const {
    return lvx::make_address(sim_->config().ip, sim_->udp_endpoint().port);
  }

  // Starts tracker n with the given model and version text and connects to it. Returns once the
  // connection's own command has been answered, with the tracker's records emptied.
  void connect_to_tracker(int n, const std::string &version = "LUMAVEX RX 5.7") {
    lvxsim::Config c;
    c.version_text = version;
    start_tracker(n, c);
    ASSERT_EQ(open_lumavex_connection(0), 0);
    ASSERT_EQ(lumavex_wait_for_command_result(2000), 0);  // "link_update_interval = 50"
    ASSERT_TRUE(sim().wait_for_commands(1, 2000));
    sim().clear_received();
  }

  // Selects the TCP-only transport; false (and the test is skipped) when this process has
  // already started the network, which makes the choice permanent.
  bool use_tcp() { return set_lumavex_tcp_only(1) == 0; }

  // Connects over TCP to tracker n and waits for the result of the update-interval command the
  // connect sends unwaited, so that nothing else the tracker sends lands in the middle of what a
  // test does next (such as a frame it splits by hand). False when TCP-only can no longer be
  // chosen in this process, or the connect fails.
  bool connect_tcp(int n, lvxsim::Config c = {}) {
    if (!use_tcp()) return false;
    c.enable_tcp = true;
    start_tracker(n, c);
    if (open_lumavex_connection(0) != 0) return false;
    return wait_until([] { return lvx::last_status_serial() != -1; });
  }

  void TearDown() override {
    close_lumavex_connection();
    close_lumavex_system();
    lvx::set_receive_timeout_for_testing(0);
    if (sim_) sim_->stop();
  }

  lvxsim::SimTracker &sim() { return *sim_; }

  // How many times the tracker has received the command `text`.
  int received_command(const std::string &text) {
    const std::vector<std::string> log = sim().command_log();
    return static_cast<int>(std::count(log.begin(), log.end(), text));
  }

  std::optional<lvxsim::SimTracker> sim_;
  bool serve_tcp_ = false;  // every tracker this test starts also serves the TCP link port
};

enum class Transport { kUdp, kTcp };

inline std::string transport_name(const testing::TestParamInfo<Transport> &info) {
  return info.param == Transport::kTcp ? "Tcp" : "Udp";
}

// How gtest (and so ctest's test list) shows the parameter.
inline void PrintTo(Transport t, std::ostream *os) {
  *os << (t == Transport::kTcp ? "TCP" : "UDP");
}

// A test that runs over the transport its parameter names. The TCP-only choice holds for the
// whole process; every test runs as its own process under ctest, so each run chooses afresh (run
// in one process, the TCP runs skip themselves).
class TransportChoice : public SimTest {
 protected:
  virtual Transport transport() const = 0;
  void SetUp() override {
    serve_tcp_ = tcp();
    if (tcp() && !use_tcp()) GTEST_SKIP() << "network already started in-process";
  }
  bool tcp() const { return transport() == Transport::kTcp; }
  // The tracker number for this run: each transport's run of a test has its own address, since
  // the two may run side by side.
  int at(int udp_n, int tcp_n) const { return tcp() ? tcp_n : udp_n; }
};

// A suite whose parameter is the transport alone: instantiate it with
//   INSTANTIATE_TEST_SUITE_P(Transports, Suite, simtest::kBothTransports, simtest::transport_name);
class TransportTest : public TransportChoice, public testing::WithParamInterface<Transport> {
 protected:
  Transport transport() const override { return GetParam(); }
};

inline const auto kBothTransports = testing::Values(Transport::kUdp, Transport::kTcp);

}  // namespace simtest
