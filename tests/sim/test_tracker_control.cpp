// The tracker's control side over loopback, driven by a raw UDP socket acting as the display, for
// what the library's tests do not reach: playback held back until the display asks, bitmap
// resends and completion, the drift-correction target text and its escape, and the keep-alive
// at the link update interval. Each test's tracker has its own address, 127.0.0.180 and up.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "lumavex_core.h"
#include "raw_display.h"
#include "sim/tracker_control.h"

namespace {

using simtest::is_status;
using simtest::Packet;
using simtest::RawDisplay;
using namespace std::chrono_literals;

std::unique_ptr<lvxsim::SimTracker> start_control(uint8_t n, lvxsim::ControlConfig cc = {}) {
  lvxsim::Config c;
  cc.enabled = true;
  c.control = cc;
  return simtest::start_sim(n, c);
}

uint16_t u16_at(const Packet &p, size_t at) {
  return lvx::WireReader(p).u16_at(at);
}

TEST(TrackerControl, PlaybackIsPacedByDataRequests) {
  lvxsim::ControlConfig cc;
  cc.link_interval_ms = 0;
  cc.playback_packets_per_request = 4;
  cc.stream.events = false;
  auto sim = start_control(183, cc);
  RawDisplay d(*sim);
  ASSERT_TRUE(d.connect());
  ASSERT_TRUE(d.result(d.command("start_recording break data =  1,1,1,1, ")));
  d.collect(60);
  ASSERT_TRUE(d.result(d.command("set_idle_mode")));
  auto r = d.result(d.command("start_playback"));
  ASSERT_TRUE(r);
  EXPECT_EQ((*r)[2], lvxsim::kModePlayback);
  EXPECT_EQ((*r)[18] & lvxsim::kPlayingBackBit, lvxsim::kPlayingBackBit);
  // Nothing flows until the display asks; then as many packets as one request releases.
  for (const Packet &p : d.collect(150)) EXPECT_NE(p[0], lvxsim::kDataPkt);
  d.command("", lvxsim::kCommandTypePlayback);
  int data = 0;
  for (const Packet &p : d.collect(150)) data += p[0] == lvxsim::kDataPkt;
  EXPECT_EQ(data, 4);

  // Asked until the playing-back bit clears, it ends with the closing markers and goes idle.
  Packet last;
  bool ended = false;
  for (int i = 0; i < 200 && !ended; ++i) {
    d.command("", lvxsim::kCommandTypePlayback);
    for (const Packet &p : d.collect(15)) {
      if (p[0] == lvxsim::kDataPkt) last = p;
      ended = ended || (p[0] == lvxsim::kStatusPkt && (p[18] & lvxsim::kPlayingBackBit) == 0);
    }
  }
  ASSERT_TRUE(ended);
  EXPECT_EQ(simtest::first_item_type(last), EV_SAMPLE_BLOCK_END);
  EXPECT_EQ(sim->control().mode(), lvxsim::kModeIdle);
}

TEST(TrackerControl, BitmapAcknowledgementsResendAndCompletion) {
  auto sim = start_control(185);
  RawDisplay d(*sim);
  ASSERT_TRUE(d.connect());
  auto ack_with = [&](int16_t v) {
    return d.until(
        [v](const Packet &p) {
          return is_status(p, 50) && static_cast<int16_t>(u16_at(p, 22)) == v;
        },
        2000);
  };
  auto image = [&](uint16_t seq, size_t size) {
    Packet p = simtest::plain_pkt(lvxsim::kImagePkt, size + 25, static_cast<uint8_t>(seq));
    lvx::put_u16(lvx::MutableBytes(p), 20, seq);
    lvx::put_u16(lvx::MutableBytes(p), 22, static_cast<uint16_t>(size));
    d.send(p);
  };
  auto r = d.result(d.command("start_bitmap_transfer 0 10 20 64 32"));
  ASSERT_TRUE(r);
  EXPECT_EQ(simtest::status_text(*r), "64 32 0 0 32 0");
  ASSERT_TRUE(ack_with(8));  // the credit
  image(1, 510);
  ASSERT_TRUE(ack_with(1));
  image(2, 100);
  ASSERT_TRUE(ack_with(1));
  image(4, 10);  // 3 went missing: resend from 3
  ASSERT_TRUE(ack_with(-3));
  image(3, 0);  // the end marker
  ASSERT_TRUE(ack_with(lvxsim::kBitmapComplete));
  auto bmp = sim->control().bitmap();
  EXPECT_TRUE(bmp.complete);
  EXPECT_EQ(bmp.bytes.size(), 610u);
  EXPECT_EQ(bmp.resend_requests, 1u);
}

TEST(TrackerControl, DriftCorrectionTargetAndEscape) {
  lvxsim::ControlConfig cc;
  cc.link_interval_ms = 0;
  auto sim = start_control(186, cc);
  RawDisplay d(*sim);
  ASSERT_TRUE(d.connect());
  ASSERT_TRUE(d.result(d.command("drift_correction_targets = 512.500 384.250")));
  ASSERT_TRUE(d.result(d.command("start_drift_correction data=0,0,0,0")));
  auto show = d.until([](const Packet &p) { return is_status(p, 100); }, 2000);
  ASSERT_TRUE(show);  // the target goes up where the targets command put it
  EXPECT_EQ(simtest::status_text(*show), "show_fixpoint 512.500000 384.250000");

  // Escape aborts the drift correction with result 27 and the tracker goes idle.
  Packet esc = simtest::plain_pkt(lvxsim::kKeyPkt, 32);
  lvx::put_u16(lvx::MutableBytes(esc), 24, lvxsim::kKeyEscape);
  d.send(esc);
  auto aborted = d.until([](const Packet &p) { return is_status(p, 103); }, 2000);
  ASSERT_TRUE(aborted);
  EXPECT_EQ(u16_at(*aborted, 22), 27);
  ASSERT_TRUE(
      d.until([](const Packet &p) { return p[2] == lvxsim::kModeIdle && p[3] == 0; }, 2000));
  EXPECT_FALSE(sim->control().target_visible());
}

TEST(TrackerControl, KeepAliveFollowsTheLinkUpdateInterval) {
  auto sim = start_control(187);
  RawDisplay d(*sim);
  ASSERT_TRUE(d.connect());
  ASSERT_TRUE(d.result(d.command("link_update_interval = 20")));
  int keepalives = 0;
  for (const Packet &p : d.collect(400)) keepalives += is_status(p, 128);
  EXPECT_GE(keepalives, 8);
  EXPECT_LE(keepalives, 30);
}

// The display steers the eye with "gaze_pointer" node messages, which are not kept; other node
// messages are.
TEST(TrackerControl, PointerNodeMessagesSteerTheEye) {
  lvxsim::Config c;
  c.ip = {127, 0, 3, 82};  // 850
  c.control.follow_pointer = true;
  lvxsim::SimTracker sim(c);
  std::string error;
  ASSERT_TRUE(sim.start(&error)) << error;
  RawDisplay d(sim);
  auto node = [&](const std::string &text) {
    d.send(lvxsim::build::node_packet(std::vector<uint8_t>(text.begin(), text.end())));
  };
  auto within_2s = [](const std::function<bool()> &done) {
    for (int i = 0; i < 2000 && !done(); ++i) std::this_thread::sleep_for(1ms);
    return done();
  };
  node("gaze_pointer 200.5 150");
  ASSERT_TRUE(within_2s([&] { return sim.control().pointer() == std::make_pair(200.5, 150.0); }));
  EXPECT_EQ(sim.control().gaze(), std::make_pair(200.5, 150.0));  // the camera's eye too
  node("gaze_pointer off");
  ASSERT_TRUE(within_2s([&] { return !sim.control().pointer(); }));
  node("gaze_pointer 1 2 3");
  node("gaze_pointer 300");
  node("hello");
  EXPECT_TRUE(within_2s([&] { return sim.node_messages().size() == 3; }));
  EXPECT_EQ(sim.control().pointer(), std::nullopt);
}

}  // namespace
