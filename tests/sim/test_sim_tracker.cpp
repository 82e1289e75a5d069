// The simulated tracker driven by raw sockets on loopback: connect handshake, header filling,
// TCP greeting and framing, polls, node messages, the recording of received packets, command
// results and rules, and message recording.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "sim/tracker.h"

namespace {

using lvx::platform::Endpoint;
using lvx::platform::Socket;
using Packet = std::vector<uint8_t>;

int64_t mono_us() {
  return lvx::platform::counter_now() / 1000;
}

std::string text_at(const Packet &p, size_t off, size_t len) {
  return std::string(lvx::get_text(lvx::Bytes(p), off, len));
}

Packet connect_pkt(uint8_t code, const char *identity = lvxsim::kIdentity) {
  return lvxsim::build::connect_packet(code, 3, 2, "", "display1", identity);
}

// A display-side UDP socket on 127.0.0.1 with an ephemeral port.
struct Display {
  Socket s;
  Endpoint ep;
  Display() {
    int err = 0;
    s = Socket::udp(&err);
    EXPECT_EQ(s.bind(Endpoint{{127, 0, 0, 1}, 0}), 0);
    s.set_receive_timeout_ms(100);
    ep = s.local_endpoint();
  }
  void send(const Packet &p, const Endpoint &to) {
    ASSERT_EQ(s.send_to(p.data(), p.size(), to), static_cast<int>(p.size()));
  }
  // The next datagram within timeout_ms (bounded by the 100-ms receive time-out per try).
  std::optional<Packet> recv(int timeout_ms, Endpoint *from = nullptr) {
    Packet buf(2048);
    for (int waited = 0; waited < timeout_ms; waited += 100) {
      int n = s.recv_from(buf.data(), buf.size(), from);
      if (n >= 0) return Packet(buf.begin(), buf.begin() + n);
    }
    return std::nullopt;
  }
};

std::unique_ptr<lvxsim::SimTracker> start_sim(uint8_t n, lvxsim::Config c = {}) {
  c.ip = {127, 0, 0, n};
  auto sim = std::make_unique<lvxsim::SimTracker>(c);
  std::string error;
  EXPECT_TRUE(sim->start(&error)) << error;
  return sim;
}

// Connects `d` to `sim` and returns the ACK.
Packet handshake(Display &d, lvxsim::SimTracker &sim) {
  d.send(connect_pkt(lvxsim::kConnectRequest), sim.udp_endpoint());
  auto ack = d.recv(5000);
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

TEST(SimTracker, ClockOffsetShowsInHeaderTime) {
  auto sim = start_sim(65);
  Display d;
  handshake(d, *sim);
  const int64_t offset = 7'000'000'000;
  sim->set_clock_offset_us(offset);
  int64_t before = mono_us() + offset;
  EXPECT_GE(sim->now_us(), before);
  ASSERT_TRUE(sim->send_to_client(plain_pkt(0)));
  auto p = d.recv(5000);
  int64_t after = mono_us() + offset;
  ASSERT_TRUE(p);
  int64_t t = int64_t{lvx::get_u32(*p, 8)} * 1000 + lvx::get_u16(*p, 12);
  // The millisecond field wraps at 2^32; the offset keeps it well below that here.
  EXPECT_GE(t, before);
  EXPECT_LE(t, after);
}

TEST(SimTracker, DisconnectAndDroppedConnection) {
  auto sim = start_sim(66);
  Display d;
  Display other;
  handshake(d, *sim);
  other.send(connect_pkt(lvxsim::kDisconnectRequest), sim->udp_endpoint());
  EXPECT_FALSE(other.recv(300));  // not the client: nothing to acknowledge
  EXPECT_TRUE(sim->client_connected());

  d.send(connect_pkt(lvxsim::kDisconnectRequest), sim->udp_endpoint());
  auto ack = d.recv(5000);
  ASSERT_TRUE(ack);
  EXPECT_EQ((*ack)[20], lvxsim::kDisconnectAck);
  EXPECT_FALSE(sim->client_connected());
  EXPECT_FALSE(sim->send_to_client(plain_pkt(0)));
  EXPECT_FALSE(sim->drop_connection());

  handshake(d, *sim);
  EXPECT_TRUE(sim->drop_connection());
  auto dropped = d.recv(5000);
  ASSERT_TRUE(dropped);
  EXPECT_EQ((*dropped)[20], lvxsim::kDisconnectAck);
  EXPECT_FALSE(sim->client_connected());
}

TEST(SimTracker, PollsAreAnsweredAlsoWhenHeardOnThePollAddress) {
  lvxsim::Config c;
  c.node_name = "trk67";
  c.poll_listen_ip = lvxsim::IPv4{127, 0, 67, 255};
  c.udp_port = 5890;
  auto sim = start_sim(67, c);
  Display d;
  d.send(connect_pkt(lvxsim::kPollTrackers), Endpoint{{127, 0, 67, 255}, 5890});
  Endpoint from;
  auto reply = d.recv(5000, &from);
  ASSERT_TRUE(reply);
  EXPECT_EQ((*reply)[20], lvxsim::kTrackerPollReply);
  EXPECT_EQ(text_at(*reply, 26, 40), "trk67");
  EXPECT_EQ(from, sim->udp_endpoint());  // answered from the tracker's own socket

  d.send(connect_pkt(lvxsim::kPollRemotes), sim->udp_endpoint());
  reply = d.recv(5000);
  ASSERT_TRUE(reply);
  EXPECT_EQ((*reply)[20], lvxsim::kRemotePollReply);
  EXPECT_EQ(text_at(*reply, 66, 40), "trk67");
  EXPECT_EQ(text_at(*reply, 106, 30), "QX VELOTRIS LUMAVEX");
  EXPECT_FALSE(sim->client_connected());  // polls connect nobody
}

TEST(SimTracker, NodeMessagesBothWays) {
  auto sim = start_sim(68);
  Display d;
  // Two node messages and a poll in one datagram; then one with a length over 420.
  Packet dgram = lvxsim::build::node_packet({1, 2, 3});
  Packet empty = lvxsim::build::node_packet({});
  Packet poll = connect_pkt(lvxsim::kPollTrackers);
  dgram.insert(dgram.end(), empty.begin(), empty.end());
  dgram.insert(dgram.end(), poll.begin(), poll.end());
  d.send(dgram, sim->udp_endpoint());
  auto reply = d.recv(5000);  // the poll was found after the node messages
  ASSERT_TRUE(reply);
  EXPECT_EQ((*reply)[20], lvxsim::kTrackerPollReply);
  Packet big = lvxsim::build::node_packet(Packet(421, 7));
  d.send(big, sim->udp_endpoint());
  ASSERT_TRUE(sim->wait_for([](const auto &p) { return p.bytes.size() == 426; }, 5000));
  auto nodes = sim->node_messages();
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_EQ(nodes[0].payload, (Packet{1, 2, 3}));
  EXPECT_EQ(nodes[0].from, d.ep);
  EXPECT_TRUE(nodes[1].payload.empty());

  EXPECT_FALSE(sim->send_node_message(Packet(421, 1), d.ep));
  ASSERT_TRUE(sim->send_node_message(Packet(420, 9), d.ep));
  auto got = d.recv(5000);
  ASSERT_TRUE(got);
  ASSERT_EQ(got->size(), 425u);
  EXPECT_EQ((*got)[0], 0xFF);
  EXPECT_EQ((*got)[1], 20);
  EXPECT_EQ(lvx::get_u16(*got, 2), 420);
  EXPECT_EQ((*got)[4 + 419], 9);
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

// Reads exactly n bytes from a TCP stream, waiting at most about timeout_ms in all.
std::optional<Packet> read_exact(Socket &s, size_t n, int timeout_ms) {
  Packet out;
  for (int waited = 0; out.size() < n && waited < timeout_ms; waited += 50) {
    if (s.wait_readable(50000) <= 0) continue;
    uint8_t buf[2048];
    int got = s.recv(buf, std::min(sizeof buf, n - out.size()));
    if (got <= 0) return std::nullopt;
    out.insert(out.end(), buf, buf + got);
  }
  if (out.size() < n) return std::nullopt;
  return out;
}

// One framed packet from the tracker: "LV", length, packet.
std::optional<Packet> read_frame(Socket &s) {
  auto head = read_exact(s, 4, 5000);
  if (!head || (*head)[0] != 'L' || (*head)[1] != 'V') return std::nullopt;
  return read_exact(s, lvx::get_u16(*head, 2), 5000);
}

Socket tcp_connect(const Endpoint &to) {
  int err = 0;
  Socket s = Socket::tcp(&err);
  EXPECT_EQ(s.bind(Endpoint{{127, 0, 0, 1}, 0}), 0);
  int rc = s.connect_start(to);
  EXPECT_TRUE(rc == 0 || rc == lvx::platform::kSockInProgress) << rc;
  EXPECT_EQ(s.wait_writable(5000000), 1);
  return s;
}

TEST(SimTracker, TcpGreetingFramingAndSplitFrames) {
  lvxsim::Config c;
  c.enable_tcp = true;
  auto sim = start_sim(70, c);
  ASSERT_EQ(sim->tcp_endpoint().port, 3875);
  Socket s = tcp_connect(sim->tcp_endpoint());
  // Greeting and a length-prefixed connect request, split in the middle of the frame.
  Packet req = connect_pkt(lvxsim::kConnectRequest);
  Packet stream(lvxsim::kTcpGreeting, lvxsim::kTcpGreeting + 6);
  stream.push_back(0);
  stream.push_back(static_cast<uint8_t>(req.size()));
  stream.insert(stream.end(), req.begin(), req.end());
  ASSERT_EQ(s.send_all(stream.data(), 70), 0);
  lvx::platform::sleep_us(50000);
  ASSERT_EQ(s.send_all(stream.data() + 70, stream.size() - 70), 0);
  auto ack = read_frame(s);
  ASSERT_TRUE(ack);
  ASSERT_EQ(ack->size(), lvxsim::kConnectSize);
  EXPECT_EQ((*ack)[20], lvxsim::kConnectAck);
  EXPECT_TRUE(sim->tcp_client_connected());
  ASSERT_TRUE(sim->client());
  EXPECT_EQ(*sim->client(), s.local_endpoint());

  // Packets to a TCP client go down the stream, framed.
  ASSERT_TRUE(sim->send_to_client(plain_pkt(5)));
  auto data = read_frame(s);
  ASSERT_TRUE(data);
  EXPECT_EQ(data->size(), 24u);
  EXPECT_EQ(lvx::get_u32(*data, 4), lvx::get_u32(*ack, 4) + 1);

  // A frame split inside its length field is recorded once, whole.
  Packet msg(40, 0x33);
  msg[0] = lvxsim::kMessagePkt;
  msg[1] = 20;
  Packet frame{0, static_cast<uint8_t>(msg.size())};
  frame.insert(frame.end(), msg.begin(), msg.end());
  ASSERT_EQ(s.send_all(frame.data(), 1), 0);
  lvx::platform::sleep_us(50000);
  ASSERT_EQ(s.send_all(frame.data() + 1, frame.size() - 1), 0);
  auto got = sim->wait_for([](const auto &p) { return p.bytes[0] == lvxsim::kMessagePkt; }, 5000);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->bytes, msg);
  EXPECT_TRUE(got->via_tcp);

  // Closing the stream forgets the client that came over it.
  s.close();
  for (int i = 0; i < 100 && sim->client_connected(); ++i) lvx::platform::sleep_us(50000);
  EXPECT_FALSE(sim->client_connected());
  EXPECT_FALSE(sim->tcp_client_connected());

  // A stream that does not open with the greeting is closed without an answer (recv gives 0).
  Socket bad = tcp_connect(sim->tcp_endpoint());
  ASSERT_EQ(bad.send_all(stream.data() + 6, stream.size() - 6), 0);
  ASSERT_EQ(bad.wait_readable(5000000), 1);
  uint8_t byte = 0;
  EXPECT_EQ(bad.recv(&byte, 1), 0);
  EXPECT_FALSE(sim->client_connected());
}

TEST(SimTracker, KeepaliveStatusPacketsWhileConnected) {
  lvxsim::Config c;
  c.keepalive_interval_ms = 50;
  auto sim = start_sim(72, c);
  Display d;
  EXPECT_FALSE(d.recv(200));  // no client, no keep-alive
  handshake(d, *sim);
  for (int i = 0; i < 2; ++i) {
    auto p = d.recv(5000);
    ASSERT_TRUE(p);
    ASSERT_EQ(p->size(), 37u);
    EXPECT_EQ((*p)[0], lvxsim::kStatusPkt);
    EXPECT_EQ(lvx::get_u32(*p, 4), 0u);
    EXPECT_EQ(lvx::get_u16(*p, 20), lvxsim::kStatusMsgLost);
  }
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

// A message packet as the display sends it: L + 31 bytes.
Packet message_pkt(uint32_t serial, int32_t offset_ms, const std::string &text) {
  Packet p(31 + text.size(), 0);
  lvx::MutableBytes b(p);
  lvx::put_u8(b, 0, lvxsim::kMessagePkt);
  lvx::put_u8(b, 1, 20);
  lvx::put_u32(b, 4, serial);
  lvx::put_u32(b, 20, static_cast<uint32_t>(offset_ms));
  lvx::put_u8(b, 24, 1);
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

TEST(SimTracker, CommandsAnsweredWithTheirSerialAndTheNegatedResult) {
  auto sim = start_sim(74);
  Display d;
  handshake(d, *sim);
  struct Case {
    uint32_t serial;
    const char *text;
    uint16_t field;
  };
  for (const Case &c : {Case{0x01020304, "screen_pixel_coords = 0 0 1023 767", 0},
                        Case{0xFFFFFFFE, "SAMPLE_RATE 1000", 0},
                        Case{7, "no_such_command 1", 0xFFFF},  // result 1: unknown command
                        Case{8, "sample_rate 333", 3}}) {      // result -3: bad value
    d.send(command_pkt(c.serial, c.text), sim->udp_endpoint());
    auto r = recv_result(d, 5000);
    ASSERT_TRUE(r) << c.text;
    EXPECT_EQ(r->serial, c.serial) << c.text;
    EXPECT_EQ(r->status_type, lvxsim::kStatusCommandResult) << c.text;
    EXPECT_EQ(r->field, c.field) << c.text;
    EXPECT_TRUE(r->text.empty()) << c.text;
  }

  // Rules: result and reply text; the whole text wins over the name.
  sim->set_command_rule("echo", {-7, 0, true, "busy now"});
  sim->set_command_rule("Echo Special", {2, 0, true, ""});
  d.send(command_pkt(20, "echo hello"), sim->udp_endpoint());
  auto r = recv_result(d, 5000);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->serial, 20u);
  EXPECT_EQ(r->field, 7);
  EXPECT_EQ(r->text, "busy now");
  d.send(command_pkt(21, "echo special"), sim->udp_endpoint());
  r = recv_result(d, 5000);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->serial, 21u);
  EXPECT_EQ(r->field, 0xFFFE);  // result 2
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

TEST(SimTracker, DelayedAndWithheldCommandResults) {
  auto sim = start_sim(76);
  Display d;
  handshake(d, *sim);
  sim->set_command_rule("start_recording", {-1, 400, true, ""});
  sim->set_command_rule("set_idle_mode", {0, 0, false, ""});

  int64_t sent = mono_us();
  d.send(command_pkt(31, "start_recording 1 1 1 1"), sim->udp_endpoint());
  d.send(command_pkt(32, "set_idle_mode"), sim->udp_endpoint());  // withheld
  d.send(command_pkt(33, "echo now"), sim->udp_endpoint());       // answered at once
  auto first = recv_result(d, 5000);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->serial, 33u);  // the delay holds up nothing else
  EXPECT_LT(mono_us() - sent, 400000);
  auto late = recv_result(d, 5000);
  ASSERT_TRUE(late);
  EXPECT_GE(mono_us() - sent, 400000);
  EXPECT_EQ(late->serial, 31u);
  EXPECT_EQ(late->field, 1);                 // result -1
  EXPECT_FALSE(d.recv(300));                 // nothing for set_idle_mode...
  EXPECT_EQ(sim->command_log().size(), 3u);  // ...which was logged all the same

  sim->clear_command_rules();
  d.send(command_pkt(34, "set_idle_mode"), sim->udp_endpoint());
  auto r = recv_result(d, 5000);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->serial, 34u);
  EXPECT_EQ(r->field, 0);
}

TEST(SimTracker, MessagesStampedAtReceiveTimePlusOffset) {
  lvxsim::Config c;
  c.clock_offset_us = 3'000'000'000;  // stamps are on the tracker's clock
  auto sim = start_sim(77, c);
  Display d;
  // Messages need no connection. Each is checked against the receive time of its own packet.
  struct Case {
    uint32_t serial;
    int32_t offset;
    const char *text;
  };
  const Case cases[] = {{101, 20, "TRIALID 1"}, {102, -20, "DISPLAY ON"}, {103, 0, "a\n\nb"}};
  for (const Case &m : cases) d.send(message_pkt(m.serial, m.offset, m.text), sim->udp_endpoint());
  ASSERT_TRUE(sim->wait_for_messages(4, 5000));
  auto packets = sim->received();
  ASSERT_EQ(packets.size(), 3u);
  auto stored = sim->recorded_messages();
  ASSERT_EQ(stored.size(), 4u);
  const size_t packet_of[] = {0, 1, 2, 2};
  const char *texts[] = {"TRIALID 1", "DISPLAY ON", "a", "b"};
  for (size_t i = 0; i < stored.size(); ++i) {
    const Case &m = cases[packet_of[i]];
    const auto &p = packets[packet_of[i]];
    EXPECT_EQ(p.bytes, message_pkt(m.serial, m.offset, m.text));  // the raw view stays
    EXPECT_EQ(stored[i].text, texts[i]);
    EXPECT_EQ(stored[i].time_ms, p.tracker_time_us / 1000 + m.offset) << i;
    EXPECT_EQ(stored[i].offset_ms, m.offset);
    EXPECT_EQ(stored[i].serial, m.serial);
  }
  EXPECT_GE(stored[0].time_ms, 3'000'000 + 20);
  EXPECT_FALSE(sim->wait_for_messages(5, 100));
}

TEST(SimTracker, LongMessageJoinedFromSeveralDatagrams) {
  auto sim = start_sim(78);
  Display d;
  handshake(d, *sim);
  std::vector<std::string> pieces;
  std::string whole;
  for (size_t i = 0; i < 3; ++i) {
    std::string prefix = i == 0 ? "!V LONGMS_ST_9c4 " : "!V LONGMS_CONT_9c4 ";
    std::string part(i < 2 ? 247 - prefix.size() : 10, static_cast<char>('x' + i));
    pieces.push_back(prefix + part);
    whole += part;
  }
  // The pieces arrive one per datagram, the last one together with a plain message, and a
  // command travels in between: neither disturbs the joining.
  d.send(message_pkt(40, 5, pieces[0]), sim->udp_endpoint());
  d.send(message_pkt(41, 0, pieces[1]), sim->udp_endpoint());
  d.send(command_pkt(9, "echo between"), sim->udp_endpoint());
  Packet last = message_pkt(42, 0, pieces[2]);
  Packet plain = message_pkt(43, 0, "TRIAL_RESULT 1");
  last.insert(last.end(), plain.begin(), plain.end());
  d.send(last, sim->udp_endpoint());
  ASSERT_TRUE(sim->wait_for([](const auto &p) { return lvx::get_u32(p.bytes, 4) == 43; }, 5000));

  auto stored = sim->recorded_messages();
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[0].text, whole);
  EXPECT_EQ(stored[0].serial, 40u);
  EXPECT_EQ(stored[0].offset_ms, 5);
  auto first = sim->wait_for([](const auto &p) { return lvx::get_u32(p.bytes, 4) == 40; }, 0);
  ASSERT_TRUE(first);
  EXPECT_EQ(stored[0].time_ms, first->tracker_time_us / 1000 + 5);
  EXPECT_EQ(stored[1].text, "TRIAL_RESULT 1");
  EXPECT_EQ(stored[1].serial, 43u);
  EXPECT_EQ(sim->command_log(), (std::vector<std::string>{"echo between"}));

  sim->clear_received();
  EXPECT_TRUE(sim->recorded_messages().empty());
}

}  // namespace
