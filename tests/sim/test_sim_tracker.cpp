// The simulated tracker driven by raw sockets on loopback, for what the library cannot see: the
// exact connect answer and header filling, the walk over a datagram's packets and the command
// log, silence, the refusal of non-loopback and taken addresses, and the stream's real-time pacing
// between its markers. Polls, node messages, TCP framing, command results and messages are covered
// end to end by the integration tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "lumavex_core.h"
#include "raw_display.h"

namespace {

using simtest::mono_ms;
using simtest::Packet;
using simtest::plain_pkt;
using simtest::RawDisplay;

std::string text_at(const Packet &p, size_t off, size_t len) {
  return std::string(lvx::WireReader(p).text_at(off, len));
}

TEST(SimTracker, ConnectAnswerAndHeadersAsTheDisplayReadsThem) {
  lvxsim::Config c;
  c.node_name = "trk60";
  c.protocol_minor = 7;
  auto sim = simtest::start_sim(60, c);
  RawDisplay d(*sim);
  EXPECT_FALSE(d.connect("QX VELOTRIS OTHER", 300));  // a foreign identity is ignored
  auto ack = d.connect();
  ASSERT_TRUE(ack);
  ASSERT_EQ(ack->size(), lvxsim::kConnectSize);
  EXPECT_EQ((*ack)[1], 20);
  EXPECT_EQ((*ack)[20], lvxsim::kConnectAck);
  EXPECT_EQ((*ack)[21], 3);
  EXPECT_EQ((*ack)[22], 7);
  EXPECT_EQ(text_at(*ack, 26, 40), "trk60");
  EXPECT_EQ(text_at(*ack, 66, 40), "display1");
  EXPECT_EQ(text_at(*ack, 106, 30), "QX VELOTRIS LUMAVEX RX 5.7");
  EXPECT_EQ(sim->client(), d.ep);
  const uint32_t seq = lvx::WireReader(*ack).u32_at(4);

  sim->set_mode(0x02, 1);
  ASSERT_TRUE(sim->send_to_client(plain_pkt(lvxsim::kKeyPkt, 24, 0xEE)));
  sim->skip_sequence(5);
  ASSERT_TRUE(sim->send_batch_to_client({plain_pkt(lvxsim::kKeyPkt),
                                         lvxsim::build::status_packet(0xABCDEF01, 20, 0, 0, "ok"),
                                         plain_pkt(lvxsim::kKeyPkt)}));
  auto first = d.recv(3000);
  ASSERT_TRUE(first);
  ASSERT_EQ(first->size(), 24u);
  EXPECT_EQ((*first)[2], 0x02);
  EXPECT_EQ((*first)[3], 1);
  EXPECT_EQ(lvx::WireReader(*first).u32_at(4), seq + 1);  // the ACK's sequence continues
  EXPECT_LT(lvx::WireReader(*first).u16_at(12), 1000);    // the tracker time's microseconds
  EXPECT_EQ((*first)[20], 0xEE);                          // payload untouched

  auto batch = d.recv(3000);  // one datagram: 24 + 36 + 24 bytes
  ASSERT_TRUE(batch);
  ASSERT_EQ(batch->size(), 84u);
  EXPECT_EQ(lvx::WireReader(*batch).u32_at(4), seq + 7);       // gap of 5 after seq + 1
  EXPECT_EQ(lvx::WireReader(*batch).u32_at(28), 0xABCDEF01u);  // status keeps its serial...
  EXPECT_EQ((*batch)[26], 0x02);                               // ...but gets the mode byte
  EXPECT_EQ(lvx::WireReader(*batch).u32_at(64), seq + 8);      // and takes no sequence number

  // A data packet keeps its own data sequence number and takes none of the link's, but gets
  // the tracker time like any other.
  Packet data = plain_pkt(lvxsim::kDataPkt, 47);
  lvx::put_u32(lvx::MutableBytes(data), 4, 0x00C0FFEE);
  ASSERT_TRUE(sim->send_batch_to_client({data, plain_pkt(lvxsim::kKeyPkt)}));
  auto pair = d.recv(3000);
  ASSERT_TRUE(pair);
  ASSERT_EQ(pair->size(), 71u);
  EXPECT_EQ(lvx::WireReader(*pair).u32_at(4), 0x00C0FFEEu);
  EXPECT_NE(lvx::WireReader(*pair).u32_at(8), 0u);
  EXPECT_EQ(lvx::WireReader(*pair).u32_at(47 + 4), seq + 9);
}

TEST(SimTracker, WalksADatagramLogsCommandsAndAnswersOnlyThem) {
  auto sim = simtest::start_sim(61);
  RawDisplay d(*sim);
  ASSERT_TRUE(d.connect());
  ASSERT_TRUE(sim->wait_for([](const auto &p) { return p.bytes[0] == 0x63; }, 3000));
  sim->clear_received();
  // One datagram: a key packet, two commands, then a packet whose header length is wrong, which
  // ends the walk: the command after it is never seen.
  const Packet key = plain_pkt(lvxsim::kKeyPkt, 32);
  Packet dgram = key;
  Packet bad = plain_pkt(lvxsim::kMessagePkt, 30);
  bad[1] = 19;
  for (const Packet &p : {simtest::command_pkt(22, 1, "set_idle_mode"),
                          simtest::command_pkt(22, 2, "draw_cross 1 2 15"), bad,
                          simtest::command_pkt(22, 3, "unseen")}) {
    dgram.insert(dgram.end(), p.begin(), p.end());
  }
  d.send(dgram);
  // A read request (another command type): recorded, but neither logged nor answered here.
  d.send(simtest::command_pkt(21, 4, "screen_pixel_coords"));
  d.send(simtest::command_pkt(22, 5, "close_data_file"));
  // A packet is recorded once handled: when the last is, every answer has gone out.
  ASSERT_TRUE(
      sim->wait_for([](const auto &p) { return lvx::WireReader(p.bytes).u32_at(4) == 5; }, 3000));
  ASSERT_TRUE(d.result(5));
  EXPECT_EQ(sim->command_log(),
            (std::vector<std::string>{"set_idle_mode", "draw_cross 1 2 15", "close_data_file"}));
  std::vector<uint32_t> answered;
  for (const Packet &p : d.seen) {
    if (simtest::is_status(p, 22)) answered.push_back(lvx::WireReader(p).u32_at(4));
  }
  EXPECT_EQ(answered, (std::vector<uint32_t>{1, 2, 5}));
  auto all = sim->received();
  ASSERT_EQ(all.size(), 5u);
  EXPECT_EQ(all[0].bytes, key);
  EXPECT_EQ(all[0].from, d.ep);
}

TEST(SimTracker, ASilentTrackerNeitherHearsNorSpeaksAndKeepsItsClient) {
  auto sim = simtest::start_sim(188);
  RawDisplay d(*sim);
  auto ack = d.connect();
  ASSERT_TRUE(ack);
  const uint32_t seq = lvx::WireReader(*ack).u32_at(4);
  sim->set_silent(true);
  EXPECT_TRUE(sim->silent());
  // What it sends is taken as sent (into the void) and uses up sequence numbers.
  EXPECT_TRUE(sim->send_to_client(plain_pkt(lvxsim::kKeyPkt)));
  EXPECT_TRUE(sim->send_to_client(plain_pkt(lvxsim::kKeyPkt)));
  d.command("draw_cross 1 2 15");
  EXPECT_TRUE(d.collect(300).empty());
  EXPECT_TRUE(sim->command_log().empty());
  EXPECT_TRUE(sim->client_connected());

  sim->set_silent(false);
  ASSERT_TRUE(sim->send_to_client(plain_pkt(lvxsim::kKeyPkt)));
  auto after = d.until([](const Packet &p) { return p[0] == lvxsim::kKeyPkt; }, 3000);
  ASSERT_TRUE(after);
  EXPECT_EQ(lvx::WireReader(*after).u32_at(4), seq + 3);  // two went nowhere
  ASSERT_TRUE(d.result(d.command("draw_cross 1 2 15")));
  EXPECT_EQ(sim->command_log(), (std::vector<std::string>{"draw_cross 1 2 15"}));
}

TEST(SimTracker, StartRefusesNonLoopbackAndTakenAddresses) {
  lvxsim::Config c;
  c.ip = {10, 0, 0, 1};
  lvxsim::SimTracker outside(c);
  std::string error;
  EXPECT_FALSE(outside.start(&error));
  EXPECT_NE(error.find("loopback"), std::string::npos);
  auto sim = simtest::start_sim(62);
  EXPECT_FALSE(sim->start(&error));
  c.ip = {127, 0, 0, 62};
  c.udp_port = sim->udp_endpoint().port;  // the port the first one was given
  lvxsim::SimTracker twin(c);
  EXPECT_FALSE(twin.start(&error));
  sim->stop();
  EXPECT_TRUE(twin.start(&error)) << error;
}

TEST(SimTracker, StreamsInRealTimeBetweenItsMarkers) {
  auto sim = simtest::start_sim(79);
  RawDisplay d(*sim);
  lvxsim::StreamConfig c;
  c.rate_hz = 2000;
  EXPECT_FALSE(sim->start_streaming(c));  // nobody to stream to
  ASSERT_TRUE(d.connect());
  const int64_t t0 = mono_ms();
  ASSERT_TRUE(sim->start_streaming(c));
  EXPECT_FALSE(sim->start_streaming(c));  // one stream at a time
  d.collect(250);  // reading all the while, so that nothing piles up in the socket
  sim->stop_streaming();
  const auto elapsed_ms = static_cast<size_t>(mono_ms() - t0);
  d.collect(100);

  std::vector<Packet> data;
  for (const Packet &p : d.seen) {
    if (p[0] == lvxsim::kDataPkt) data.push_back(p);
  }
  ASSERT_GE(data.size(), 3u);
  for (size_t i = 1; i < data.size(); ++i) {
    ASSERT_EQ(lvx::WireReader(data[i]).u32_at(4), lvx::WireReader(data[i - 1]).u32_at(4) + 1) << i;
  }
  EXPECT_EQ(simtest::first_item_type(data.front()), EV_SAMPLE_BLOCK_START);
  EXPECT_EQ(simtest::first_item_type(data.back()), EV_SAMPLE_BLOCK_END);
  // Paced by the clock: never ahead of it, and not far behind it.
  lvxsim::StreamStats st = sim->stream_stats();
  EXPECT_LE(st.samples, elapsed_ms * 2 + 2);
  EXPECT_GE(st.samples, elapsed_ms / 2);
  EXPECT_EQ(st.samples, data.size() - 2);  // one a packet between the marker packets
  EXPECT_EQ(st.packets_sent, data.size());
  EXPECT_EQ(st.markers, 4u);
}

TEST(SimTracker, SendJitterHoldsPacketsBackAfterTheirStamps) {
  lvxsim::Config c;
  c.send_jitter_us = 3000;
  auto sim = simtest::start_sim(188, c);
  RawDisplay d(*sim);
  ASSERT_TRUE(d.connect());
  // The display side notes when each packet arrives while the tracker sends them one by one.
  std::vector<int64_t> delays;
  std::thread sender([&sim] {
    for (int i = 0; i < 40; ++i) sim->send_to_client(plain_pkt(lvxsim::kKeyPkt));
  });
  Packet buf(2048);
  for (int64_t end = mono_ms() + 3000; delays.size() < 40 && mono_ms() < end;) {
    const int n = d.s.recv_from(buf.data(), buf.size(), nullptr);
    const int64_t arrived_us = lvx::platform::counter_now() / 1000;
    if (n < 20 || buf[0] != lvxsim::kKeyPkt) continue;
    const int64_t stamp_us =
        int64_t{lvx::WireReader(buf).u32_at(8)} * 1000 + lvx::WireReader(buf).u16_at(12);
    delays.push_back(arrived_us - stamp_us);
  }
  sender.join();
  ASSERT_EQ(delays.size(), 40u);
  // The stamps are those of the moment of stamping, before the hold-back: the packets arrive
  // from 0 to 3 ms (plus the way through loopback) after them.
  EXPECT_GE(*std::min_element(delays.begin(), delays.end()), 0);
  EXPECT_GE(*std::max_element(delays.begin(), delays.end()), 1000);
}

}  // namespace
