// A display played by a raw UDP socket, for tests of the simulated tracker on loopback: it binds
// 127.0.0.1 on an ephemeral port, sends packets and receives datagrams with bounded waits.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/net.h"
#include "sim/tracker.h"

namespace simtest {

using lvx::platform::Endpoint;
using lvx::platform::Socket;
using Packet = std::vector<uint8_t>;

inline int64_t mono_us() {
  return lvx::platform::counter_now() / 1000;
}

// Starts a tracker at 127.0.0.n.
inline std::unique_ptr<lvxsim::SimTracker> start_sim(uint8_t n, lvxsim::Config c = {}) {
  c.ip = {127, 0, 0, n};
  auto sim = std::make_unique<lvxsim::SimTracker>(c);
  std::string error;
  EXPECT_TRUE(sim->start(&error)) << error;
  return sim;
}

struct RawDisplay {
  static constexpr int kPollMs = 50;
  Socket s;
  Endpoint ep;
  RawDisplay() {
    int err = 0;
    s = Socket::udp(&err);
    EXPECT_EQ(s.bind(Endpoint{{127, 0, 0, 1}, 0}), 0);
    s.set_receive_timeout_ms(kPollMs);
    ep = s.local_endpoint();
  }
  void send(const Packet &p, const Endpoint &to) {
    ASSERT_EQ(s.send_to(p.data(), p.size(), to), static_cast<int>(p.size()));
  }
  // The next datagram within timeout_ms (in steps of the socket's receive time-out).
  std::optional<Packet> recv(int timeout_ms, Endpoint *from = nullptr) {
    Packet buf(8192);
    for (int waited = 0; waited < timeout_ms; waited += kPollMs) {
      int n = s.recv_from(buf.data(), buf.size(), from);
      if (n >= 0) return Packet(buf.begin(), buf.begin() + n);
    }
    return std::nullopt;
  }
  // Sends a connect request to the tracker and returns its answer.
  std::optional<Packet> request_connection(lvxsim::SimTracker &sim,
                                           const char *identity = lvxsim::kIdentity) {
    send(lvxsim::build::connect_packet(lvxsim::kConnectRequest, 3, 2, "", "display1", identity),
         sim.udp_endpoint());
    return recv(5000);
  }
};

}  // namespace simtest
