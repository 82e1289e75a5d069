// A display played by a raw UDP socket, for tests of the simulated tracker on loopback: it binds
// 127.0.0.1 on an ephemeral port, talks to one tracker and receives with bounded waits, keeping
// every datagram it received in `seen`.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/wire_reader.h"
#include "platform/clock.h"
#include "platform/net.h"
#include "sim/tracker.h"

namespace simtest {

using Packet = std::vector<uint8_t>;

inline int64_t mono_ms() {
  return lvx::platform::counter_now() / 1000000;
}

// Starts a tracker at 127.0.0.n.
inline std::unique_ptr<lvxsim::SimTracker> start_sim(uint8_t n, lvxsim::Config c = {}) {
  c.ip = {127, 0, 0, n};
  auto sim = std::make_unique<lvxsim::SimTracker>(c);
  std::string error;
  EXPECT_TRUE(sim->start(&error)) << error;
  return sim;
}

// A packet of `size` bytes of `fill` with the given type and a 20-byte header (never shorter than
// the header, so that the header bytes always exist).
inline Packet plain_pkt(uint8_t type, size_t size = 24, uint8_t fill = 0) {
  Packet p(std::max<size_t>(size, lvxsim::kHeaderSize), fill);
  p[0] = type;
  p[1] = 20;
  return p;
}

// A command packet as the display sends it: 30 + D bytes, D = text length + 1 (0 without text).
inline Packet command_pkt(uint8_t type, uint32_t serial, const std::string &text) {
  size_t d = text.empty() ? 0 : text.size() + 1;
  Packet p = plain_pkt(lvxsim::kCommandPkt, 30 + d);
  lvx::MutableBytes b(p);
  lvx::put_u32(b, 4, serial);
  lvx::put_u8(b, 25, type);
  lvx::put_u16(b, 26, static_cast<uint16_t>(d));
  std::copy(text.begin(), text.end(), p.begin() + 28);
  return p;
}

// The record type of a DATA packet's first item, when that is an event (a block marker).
inline uint8_t first_item_type(const Packet &p) {
  return p.size() > 46u + p[22] ? static_cast<uint8_t>(p[46u + p[22]] & 0x3F) : 0;
}

inline bool is_status(const Packet &p, uint16_t type) {
  return p.size() >= 32 && p[0] == lvxsim::kStatusPkt && lvx::WireReader(p).u16_at(20) == type;
}

inline std::string status_text(const Packet &p) {
  lvx::WireReader r(p);
  return std::string(r.text_at(32, r.u16_at(30)));
}

struct RawDisplay {
  lvx::platform::Socket s;
  lvx::platform::Endpoint ep;
  lvxsim::SimTracker &sim;
  std::vector<Packet> seen;
  uint32_t serial = 100;

  explicit RawDisplay(lvxsim::SimTracker &t) : sim(t) {
    int err = 0;
    s = lvx::platform::Socket::udp(&err);
    EXPECT_EQ(s.bind({{127, 0, 0, 1}, 0}), 0);
    s.set_receive_timeout_ms(10);
    ep = s.local_endpoint();
  }
  void send(const Packet &p) {
    ASSERT_EQ(s.send_to(p.data(), p.size(), sim.udp_endpoint()), static_cast<int>(p.size()));
  }
  // Receives until a datagram matches (returned) or timeout_ms pass.
  std::optional<Packet> until(const std::function<bool(const Packet &)> &match, int timeout_ms) {
    Packet buf(8192);
    for (int64_t end = mono_ms() + timeout_ms; mono_ms() < end;) {
      int n = s.recv_from(buf.data(), buf.size(), nullptr);
      if (n <= 0) continue;
      seen.emplace_back(buf.begin(), buf.begin() + n);
      if (match(seen.back())) return seen.back();
    }
    return std::nullopt;
  }
  std::optional<Packet> recv(int timeout_ms) {
    return until([](const Packet &) { return true; }, timeout_ms);
  }
  // The datagrams received during the next ms milliseconds.
  std::vector<Packet> collect(int ms) {
    size_t from = seen.size();
    until([](const Packet &) { return false; }, ms);
    return {seen.begin() + static_cast<std::ptrdiff_t>(from), seen.end()};
  }
  // Sends a connect request and returns the tracker's connect answer.
  std::optional<Packet> connect(const char *identity = lvxsim::kIdentity, int timeout_ms = 3000) {
    send(lvxsim::build::connect_packet(lvxsim::kConnectRequest, 3, 2, "", "display1", identity));
    return until([](const Packet &p) { return p[0] == lvxsim::kConnectPkt; }, timeout_ms);
  }
  uint32_t command(const std::string &text, uint8_t type = lvxsim::kCommandTypeCommand) {
    send(command_pkt(type, ++serial, text));
    return serial;
  }
  // The result (status 22) of command `serial_no`.
  std::optional<Packet> result(uint32_t serial_no) {
    return until(
        [serial_no](const Packet &p) {
          return is_status(p, 22) && lvx::WireReader(p).u32_at(4) == serial_no;
        },
        2000);
  }
};

}  // namespace simtest
