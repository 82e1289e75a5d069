// The simulated tracker driven by raw sockets on loopback, for what the library cannot see: the
// exact connect replies, header filling, the recording of received packets, and the command log.
// Polls, node messages, TCP framing, command results and messages are covered end to end by the
// integration tests.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "raw_display.h"
#include "sim/tracker.h"

namespace {

using simtest::Endpoint;
using simtest::mono_us;
using simtest::Packet;
using simtest::start_sim;
using Display = simtest::RawDisplay;

std::string text_at(const Packet &p, size_t off, size_t len) {
  return std::string(lvx::get_text(lvx::Bytes(p), off, len));
}

Packet connect_pkt(uint8_t code, const char *identity = lvxsim::kIdentity) {
  return lvxsim::build::connect_packet(code, 3, 2, "", "display1", identity);
}

// Connects `d` to `sim` and returns the ACK.
Packet handshake(Display &d, lvxsim::SimTracker &sim) {
  auto ack = d.request_connection(sim);
  EXPECT_TRUE(ack.has_value());
  return ack.value_or(Packet{});
}

// A 24-byte packet of a type that takes the link's sequence number (a key packet).
Packet plain_pkt(uint8_t fill) {
  Packet p(24, fill);
  p[0] = lvxsim::kKeyPkt;
  return p;
}

TEST(SimTracker, ConnectAckCarriesIdentityVersionAndNames) {
  lvxsim::Config c;
  c.node_name = "trk60";
  c.protocol_minor = 7;
  auto sim = start_sim(60, c);
  Display d;
  Packet ack = handshake(d, *sim);
  ASSERT_EQ(ack.size(), lvxsim::kConnectSize);
  EXPECT_EQ(ack[0], lvxsim::kConnectPkt);
  EXPECT_EQ(ack[1], 20);
  EXPECT_EQ(ack[20], lvxsim::kConnectAck);
  EXPECT_EQ(ack[21], 3);
  EXPECT_EQ(ack[22], 7);
  EXPECT_EQ(text_at(ack, 26, 40), "trk60");
  EXPECT_EQ(text_at(ack, 66, 40), "display1");
  EXPECT_EQ(text_at(ack, 106, 30), "QX VELOTRIS LUMAVEX RX 5.7");
  EXPECT_EQ(ack[126], 'R');
  ASSERT_TRUE(sim->client().has_value());
  EXPECT_EQ(*sim->client(), d.ep);
  // The next packet continues the ACK's sequence.
  ASSERT_TRUE(sim->send_to_client(plain_pkt(0)));
  auto next = d.recv(5000);
  ASSERT_TRUE(next);
  EXPECT_EQ(lvx::get_u32(*next, 4), lvx::get_u32(ack, 4) + 1);
}

TEST(SimTracker, BusySilentWrongMajorAndForeignIdentity) {
  lvxsim::Config c;
  c.connect_reply = lvxsim::ConnectReply::kBusy;
  auto sim = start_sim(61, c);
  Display d;
  d.send(connect_pkt(lvxsim::kConnectBusyTest), sim->udp_endpoint());
  auto busy = d.recv(5000);
  ASSERT_TRUE(busy);
  EXPECT_EQ((*busy)[20], lvxsim::kConnectBusy);
  EXPECT_FALSE(sim->client_connected());

  sim->set_connect_reply(lvxsim::ConnectReply::kSilent);
  sim->clear_received();
  d.send(connect_pkt(lvxsim::kConnectRequest), sim->udp_endpoint());
  EXPECT_TRUE(sim->wait_for([](const auto &p) { return p.bytes[0] == 0x63; }, 5000));
  EXPECT_FALSE(d.recv(300));

  sim->set_connect_reply(lvxsim::ConnectReply::kAccept);
  d.send(connect_pkt(lvxsim::kConnectRequest, "QX VELOTRIS OTHER"), sim->udp_endpoint());
  EXPECT_FALSE(d.recv(300));  // foreign identity: ignored
  EXPECT_FALSE(sim->client_connected());

  sim->set_protocol_major(2);
  sim->set_version_text("LUMAVEX T 6.1");
  Packet ack = handshake(d, *sim);
  ASSERT_EQ(ack.size(), lvxsim::kConnectSize);
  EXPECT_EQ(ack[21], 2);
  EXPECT_EQ(ack[126], 'T');
}

TEST(SimTracker, LateReplyArrivesLaterAndStopStaysPrompt) {
  lvxsim::Config c;
  c.connect_reply = lvxsim::ConnectReply::kAcceptLate;
  c.late_reply_ms = 400;
  auto sim = start_sim(62, c);
  Display d;
  int64_t sent = mono_us();
  d.send(connect_pkt(lvxsim::kConnectRequest), sim->udp_endpoint());
  auto ack = d.recv(5000);
  ASSERT_TRUE(ack);
  EXPECT_EQ((*ack)[20], lvxsim::kConnectAck);
  EXPECT_GE(mono_us() - sent, 400000);
  EXPECT_TRUE(sim->client_connected());

  // A reply due a minute from now does not hold up stop().
  c.late_reply_ms = 60000;
  auto slow = start_sim(63, c);
  d.send(connect_pkt(lvxsim::kConnectRequest), slow->udp_endpoint());
  ASSERT_TRUE(slow->wait_for([](const auto &p) { return p.bytes[0] == 0x63; }, 5000));
  int64_t before = mono_us();
  slow->stop();
  EXPECT_LT(mono_us() - before, 10000000);
  EXPECT_FALSE(d.recv(200));
}

TEST(SimTracker, HeadersCarryModeExtrasRisingSequenceAndSerial) {
  auto sim = start_sim(64);
  Display d;
  Packet ack = handshake(d, *sim);
  uint32_t seq = lvx::get_u32(ack, 4);
  sim->set_mode(0x02, 1);
  sim->set_header_extras(0x1234, 0x5678, 9, 10);
  ASSERT_TRUE(sim->send_to_client(plain_pkt(0xEE)));
  sim->skip_sequence(5);
  ASSERT_TRUE(sim->send_batch_to_client(
      {plain_pkt(1), lvxsim::build::status_packet(0xABCDEF01, 20, 0, 0, "ok"), plain_pkt(2)}));

  auto first = d.recv(5000);
  ASSERT_TRUE(first);
  ASSERT_EQ(first->size(), 24u);
  EXPECT_EQ((*first)[1], 20);
  EXPECT_EQ((*first)[2], 0x02);
  EXPECT_EQ((*first)[3], 1);
  EXPECT_EQ(lvx::get_u32(*first, 4), seq + 1);
  EXPECT_LT(lvx::get_u16(*first, 12), 1000);
  EXPECT_EQ(lvx::get_u16(*first, 14), 0x1234);
  EXPECT_EQ(lvx::get_u16(*first, 16), 0x5678);
  EXPECT_EQ((*first)[18], 9);
  EXPECT_EQ((*first)[19], 10);
  EXPECT_EQ((*first)[20], 0xEE);  // payload untouched

  auto batch = d.recv(5000);  // one datagram: 24 + 36 + 24 bytes
  ASSERT_TRUE(batch);
  ASSERT_EQ(batch->size(), 84u);
  EXPECT_EQ(lvx::get_u32(*batch, 4), seq + 7);       // gap of 5 after seq + 1
  EXPECT_EQ(lvx::get_u32(*batch, 28), 0xABCDEF01u);  // status keeps its serial...
  EXPECT_EQ((*batch)[26], 0x02);                     // ...but gets the mode byte
  EXPECT_EQ(text_at(*batch, 24 + 32, 2), "ok");
  EXPECT_EQ(lvx::get_u32(*batch, 64), seq + 8);  // and takes no sequence number

  // A data packet keeps its own data sequence number and takes none of the link's, but gets
  // the tracker time like any other.
  Packet data(47, 0);
  data[0] = lvxsim::kDataPkt;
  lvx::put_u32(lvx::MutableBytes(data), 4, 0x00C0FFEE);
  ASSERT_TRUE(sim->send_batch_to_client({data, plain_pkt(3)}));
  auto pair = d.recv(5000);
  ASSERT_TRUE(pair);
  ASSERT_EQ(pair->size(), 71u);
  EXPECT_EQ(lvx::get_u32(*pair, 4), 0x00C0FFEEu);
  EXPECT_NE(lvx::get_u32(*pair, 8), 0u);
  EXPECT_EQ((*pair)[2], 0x02);
  EXPECT_EQ(lvx::get_u32(*pair, 47 + 4), seq + 9);
}

TEST(SimTracker, RecordsEachPacketOfADatagramAndStopsAtABadHeader) {
  auto sim = start_sim(69);
  int seen_by_handler = 0;
  sim->add_handler(lvxsim::kCommandPkt, [&](lvxsim::SimTracker &, const auto &) {
    ++seen_by_handler;  // handlers run before the packet is recorded
  });
  sim->set_packet_length(lvxsim::kCommandPkt, [](lvx::Bytes) { return size_t{22}; });
  Display d;
  Packet key(32, 0);
  key[0] = lvxsim::kKeyPkt;
  key[1] = 20;
  Packet cmd(22, 0);
  cmd[0] = lvxsim::kCommandPkt;
  cmd[1] = 20;
  Packet bad(30, 0);
  bad[0] = lvxsim::kMessagePkt;
  bad[1] = 19;
  Packet dgram = key;
  for (const Packet *p : {&cmd, &cmd, &bad}) dgram.insert(dgram.end(), p->begin(), p->end());
  int64_t before = mono_us();
  d.send(dgram, sim->udp_endpoint());
  int commands = 0;
  ASSERT_TRUE(
      sim->wait_for([&](const auto &p) { return p.bytes[0] == 1 && ++commands == 2; }, 5000));
  auto all = sim->received();
  ASSERT_EQ(all.size(), 3u);  // the packet with header length 19 ended the walk
  EXPECT_EQ(all[0].bytes, key);
  EXPECT_EQ(all[1].bytes, cmd);
  EXPECT_EQ(all[2].bytes, cmd);
  EXPECT_EQ(all[0].from, d.ep);
  EXPECT_FALSE(all[0].via_tcp);
  EXPECT_GE(all[0].tracker_time_us, before);
  EXPECT_LE(all[0].tracker_time_us, mono_us());
  EXPECT_EQ(seen_by_handler, 2);
}

TEST(SimTracker, StartRefusesNonLoopbackAndSecondStart) {
  lvxsim::Config c;
  c.ip = {10, 0, 0, 1};
  lvxsim::SimTracker outside(c);
  std::string error;
  EXPECT_FALSE(outside.start(&error));
  EXPECT_NE(error.find("loopback"), std::string::npos);

  auto sim = start_sim(73);
  EXPECT_FALSE(sim->start(&error));
  // The address is taken: a second tracker on it cannot bind.
  lvxsim::Config same;
  same.ip = {127, 0, 0, 73};
  lvxsim::SimTracker twin(same);
  EXPECT_FALSE(twin.start(&error));
  sim->stop();
  EXPECT_TRUE(twin.start(&error)) << error;
}

// A command packet as the display sends it: 30 + D bytes, D = text length + 1.
Packet command_pkt(uint32_t serial, const std::string &text,
                   uint8_t type = lvxsim::kCommandTypeCommand) {
  Packet p(30 + text.size() + 1, 0);
  lvx::MutableBytes b(p);
  lvx::put_u8(b, 0, lvxsim::kCommandPkt);
  lvx::put_u8(b, 1, 20);
  lvx::put_u32(b, 4, serial);
  lvx::put_u8(b, 25, type);
  lvx::put_u16(b, 26, static_cast<uint16_t>(text.size() + 1));
  std::memcpy(p.data() + 28, text.data(), text.size());
  return p;
}

// A command result as the display reads it.
struct Result {
  uint32_t serial = 0;
  uint16_t status_type = 0;
  uint16_t field = 0;  // the result, negated in 16 bits
  std::string text;
};

std::optional<Result> recv_result(Display &d, int timeout_ms) {
  auto p = d.recv(timeout_ms);
  if (!p) return std::nullopt;
  EXPECT_EQ((*p)[0], lvxsim::kStatusPkt);
  Result r{lvx::get_u32(*p, 4), lvx::get_u16(*p, 20), lvx::get_u16(*p, 22),
           text_at(*p, 32, lvx::get_u16(*p, 30))};
  return r;
}

TEST(SimTracker, CommandLogKeepsOrderAndOnlyCommandTexts) {
  auto sim = start_sim(75);
  Display d;
  handshake(d, *sim);
  // Two commands in one datagram, then a read request and a time request (other command types,
  // not answered here), then a third command.
  Packet two = command_pkt(1, "set_idle_mode");
  Packet second = command_pkt(2, "draw_cross 1 2 15");
  two.insert(two.end(), second.begin(), second.end());
  d.send(two, sim->udp_endpoint());
  d.send(command_pkt(3, "screen_pixel_coords", 21), sim->udp_endpoint());
  d.send(command_pkt(4, "", 40), sim->udp_endpoint());
  d.send(command_pkt(5, "close_data_file"), sim->udp_endpoint());
  ASSERT_TRUE(sim->wait_for_commands(3, 5000));
  EXPECT_EQ(sim->command_log(),
            (std::vector<std::string>{"set_idle_mode", "draw_cross 1 2 15", "close_data_file"}));
  std::vector<uint32_t> answered;
  for (int i = 0; i < 3; ++i) {
    auto r = recv_result(d, 5000);
    ASSERT_TRUE(r);
    answered.push_back(r->serial);
  }
  EXPECT_EQ(answered, (std::vector<uint32_t>{1, 2, 5}));
  EXPECT_FALSE(d.recv(200));              // the requests got no answer...
  EXPECT_EQ(sim->received().size(), 6u);  // ...but were recorded (as was the connect request)
  EXPECT_FALSE(sim->wait_for_commands(4, 100));

  sim->clear_received();
  EXPECT_TRUE(sim->command_log().empty());
}

}  // namespace
