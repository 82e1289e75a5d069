// The tracker's control side over loopback, driven by a raw UDP socket acting as the display:
// the state flag's rise and fall around a mode change, read and time requests, recordings and
// their closing markers, playback paced by data requests, keys and the flush echo, the bitmap
// acknowledgements, targets, and the keep-alive at the link update interval.
// Each test's tracker has its own address, 127.0.0.180 and up.
#include <gtest/gtest.h>

#include <string>

#include "data_reader.h"
#include "platform/clock.h"
#include "sim/tracker.h"
#include "sim/tracker_control.h"

namespace {

using lvx::platform::Endpoint;
using lvx::platform::Socket;
using Packet = std::vector<uint8_t>;

int64_t mono_ms() {
  return lvx::platform::counter_now() / 1000000;
}

// A packet of `size` zero bytes with the given packet type and a 20-byte header.
Packet blank_pkt(size_t size, uint8_t type) {
  Packet p(size, 0);
  p[0] = type;
  p[1] = 20;
  return p;
}

Packet command_pkt(uint8_t type, uint32_t serial, const std::string &text) {
  size_t d = text.empty() ? 0 : text.size() + 1;
  Packet p = blank_pkt(30 + d, lvxsim::kCommandPkt);
  lvx::MutableBytes b(p);
  lvx::put_u32(b, 4, serial);
  lvx::put_u8(b, 25, type);
  lvx::put_u16(b, 26, static_cast<uint16_t>(d));
  for (size_t i = 0; i < text.size(); ++i) p[28 + i] = static_cast<uint8_t>(text[i]);
  return p;
}

Packet key_pkt(uint16_t code, uint16_t mods, uint8_t button, int8_t state) {
  Packet p = blank_pkt(32, lvxsim::kKeyPkt);
  lvx::MutableBytes b(p);
  lvx::put_u16(b, 24, code);
  lvx::put_u16(b, 26, mods);
  lvx::put_u8(b, 28, static_cast<uint8_t>(state));
  lvx::put_u8(b, 29, button);
  return p;
}

Packet image_pkt(uint16_t seq, size_t size) {
  Packet p = blank_pkt(size + 25, lvxsim::kImagePkt);
  lvx::MutableBytes b(p);
  lvx::put_u16(b, 20, seq);
  lvx::put_u16(b, 22, static_cast<uint16_t>(size));
  for (size_t i = 0; i < size; ++i) p[24 + i] = static_cast<uint8_t>(seq + i);
  return p;
}

bool is_status(const Packet &p, uint16_t type) {
  return p.size() >= 32 && p[0] == lvxsim::kStatusPkt && lvx::get_u16(lvx::Bytes(p), 20) == type;
}

uint16_t u16_at(const Packet &p, size_t at) {
  return lvx::get_u16(lvx::Bytes(p), at);
}

std::string status_text(const Packet &p) {
  lvx::Bytes b(p);
  return std::string(lvx::get_text(b, 32, lvx::get_u16(b, 30)));
}

struct Display {
  Socket s;
  lvxsim::SimTracker *sim = nullptr;
  std::vector<Packet> seen;  // everything received, in order
  uint32_t serial = 100;

  explicit Display(lvxsim::SimTracker &t) : sim(&t) {
    int err = 0;
    s = Socket::udp(&err);
    EXPECT_EQ(s.bind(Endpoint{{127, 0, 0, 1}, 0}), 0);
    s.set_receive_timeout_ms(10);
    send(lvxsim::build::connect_packet(lvxsim::kConnectRequest, 3, 2, "", "display",
                                       "QX VELOTRIS LUMAVEX"));
    EXPECT_TRUE(until([](const Packet &p) { return p[0] == lvxsim::kConnectPkt; }, 3000));
  }
  void send(const Packet &p) {
    ASSERT_EQ(s.send_to(p.data(), p.size(), sim->udp_endpoint()), static_cast<int>(p.size()));
  }
  uint32_t command(const std::string &text, uint8_t type = lvxsim::kCommandTypeCommand) {
    send(command_pkt(type, ++serial, text));
    return serial;
  }
  // Receives until a packet matches (returned) or timeout_ms pass; every packet goes to `seen`.
  std::optional<Packet> until(const std::function<bool(const Packet &)> &match, int timeout_ms) {
    Packet buf(4096);
    int64_t end = mono_ms() + timeout_ms;
    while (mono_ms() < end) {
      int n = s.recv_from(buf.data(), buf.size(), nullptr);
      if (n <= 0) continue;
      Packet p(buf.begin(), buf.begin() + n);
      seen.push_back(p);
      if (match(p)) return p;
    }
    return std::nullopt;
  }
  // The result of command `serial` (status 22).
  std::optional<Packet> result(uint32_t serial_no, int timeout_ms = 2000) {
    return until(
        [serial_no](const Packet &p) {
          return is_status(p, 22) && lvx::get_u32(lvx::Bytes(p), 4) == serial_no;
        },
        timeout_ms);
  }
  // Collects packets for ms milliseconds.
  std::vector<Packet> collect(int ms) {
    size_t from = seen.size();
    until([](const Packet &) { return false; }, ms);
    return std::vector<Packet>(seen.begin() + static_cast<std::ptrdiff_t>(from), seen.end());
  }
};

std::unique_ptr<lvxsim::SimTracker> start_control(uint8_t n, lvxsim::ControlConfig cc = {}) {
  lvxsim::Config c;
  c.ip = {127, 0, 0, n};
  cc.enabled = true;
  c.control = cc;
  auto sim = std::make_unique<lvxsim::SimTracker>(c);
  std::string error;
  EXPECT_TRUE(sim->start(&error)) << error;
  return sim;
}

bool has_marker(const Packet &p, uint8_t type) {
  auto items = simtest::read_items(p);
  if (!items) return false;
  for (const auto &it : *items) {
    if (it.event && it.event_type() == type) return true;
  }
  return false;
}

TEST(TrackerControl, ModeChangeRaisesThenLowersTheStateFlag) {
  lvxsim::ControlConfig cc;
  cc.settle_ms = 40;
  cc.link_interval_ms = 0;  // no keep-alives between the packets looked at
  auto sim = start_control(180, cc);
  Display d(*sim);
  auto r = d.result(d.command("setup_menu_mode"));
  ASSERT_TRUE(r);
  EXPECT_EQ((*r)[2], lvxsim::kModeSetupMenu);
  EXPECT_EQ((*r)[3], 1);  // the result shows the change unsettled
  int64_t raised = mono_ms();
  auto down = d.until([](const Packet &p) { return p[3] == 0; }, 2000);
  ASSERT_TRUE(down);
  EXPECT_GE(mono_ms() - raised, 25);
  EXPECT_EQ((*down)[2], lvxsim::kModeSetupMenu);
  EXPECT_EQ(sim->control().mode(), lvxsim::kModeSetupMenu);
  EXPECT_EQ(sim->command_log(), std::vector<std::string>{"setup_menu_mode"});
}

TEST(TrackerControl, PlaybackIsPacedByDataRequests) {
  lvxsim::ControlConfig cc;
  cc.link_interval_ms = 0;
  cc.playback_packets_per_request = 4;
  cc.stream.events = false;
  auto sim = start_control(183, cc);
  Display d(*sim);
  ASSERT_TRUE(d.result(d.command("start_recording break data =  1,1,1,1, ")));
  d.collect(60);
  ASSERT_TRUE(d.result(d.command("set_idle_mode")));
  auto rec = sim->control().last_recording();
  ASSERT_TRUE(rec);
  const uint32_t last_seq = sim->stream_stats().last_sequence;

  auto r = d.result(d.command("start_playback"));
  ASSERT_TRUE(r);
  EXPECT_EQ((*r)[2], lvxsim::kModePlayback);
  EXPECT_EQ((*r)[18] & lvxsim::kPlayingBackBit, lvxsim::kPlayingBackBit);
  // Nothing flows until the display asks.
  for (const Packet &p : d.collect(150)) EXPECT_NE(p[0], lvxsim::kDataPkt);
  d.command("", lvxsim::kCommandTypePlayback);
  int data = 0;
  for (const Packet &p : d.collect(150)) data += p[0] == lvxsim::kDataPkt;
  EXPECT_EQ(data, 4);

  // Ask until the playing-back bit clears; the sequence continues the recording's.
  std::vector<Packet> replay;
  bool ended = false;
  for (int i = 0; i < 200 && !ended; ++i) {
    d.command("", lvxsim::kCommandTypePlayback);
    for (const Packet &p : d.collect(15)) {
      if (p[0] == lvxsim::kDataPkt) replay.push_back(p);
      if (p[0] == lvxsim::kStatusPkt && (p[18] & lvxsim::kPlayingBackBit) == 0) ended = true;
    }
  }
  ASSERT_TRUE(ended);
  ASSERT_FALSE(replay.empty());
  EXPECT_TRUE(has_marker(replay.back(), EV_SAMPLE_BLOCK_END));
  EXPECT_EQ(sim->control().mode(), lvxsim::kModeIdle);
  EXPECT_GT(lvx::get_u32(lvx::Bytes(replay.front()), 4), last_seq + 4);
  for (size_t i = 1; i < replay.size(); ++i) {
    EXPECT_EQ(lvx::get_u32(lvx::Bytes(replay[i]), 4),
              lvx::get_u32(lvx::Bytes(replay[i - 1]), 4) + 1);
  }
  // About one packet per recorded sample, plus the closing markers.
  EXPECT_GE(replay.size() + 4, static_cast<size_t>(rec->link_samples));

  // Abort mid-way: closing markers at once, bit cleared.
  ASSERT_TRUE(d.result(d.command("start_playback")));
  d.command("", lvxsim::kCommandTypePlayback);
  auto r2 = d.result(d.command("abort_playback"));
  ASSERT_TRUE(r2);
  EXPECT_EQ((*r2)[18] & lvxsim::kPlayingBackBit, 0);
  bool closed = false;
  for (const Packet &p : d.seen) closed = closed || has_marker(p, EV_SAMPLE_BLOCK_END);
  EXPECT_TRUE(closed);
}

TEST(TrackerControl, KeysButtonsAndTheFlushEcho) {
  auto sim = start_control(184);
  Display d(*sim);
  ASSERT_TRUE(sim->control().send_button(2, true));
  auto btn = d.until([](const Packet &p) { return p[0] == lvxsim::kKeyPkt; }, 2000);
  ASSERT_TRUE(btn);
  ASSERT_EQ(btn->size(), 32u);
  EXPECT_EQ(static_cast<int8_t>((*btn)[28]), lvxsim::kButtonPressed);
  EXPECT_EQ((*btn)[29], 2);
  EXPECT_EQ(u16_at(*btn, 24), 0);
  uint32_t t = lvx::get_u32(lvx::Bytes(*btn), 20);
  EXPECT_LE(static_cast<int64_t>(t), sim->now_us() / 1000);
  EXPECT_GT(static_cast<int64_t>(t), sim->now_us() / 1000 - 2000);
  EXPECT_FALSE(sim->control().send_button(16, true));

  d.send(key_pkt('a', 1, 0, 0));
  // The flush echo carries the buttons held: button 2, then none once it is released.
  for (int held : {0x0002, 0x0000}) {
    d.send(key_pkt(lvxsim::kKeyFlush, 0, 0, 0));
    auto echo = d.until(
        [](const Packet &p) { return p[0] == lvxsim::kKeyPkt && u16_at(p, 24) == 0xFFF0; }, 2000);
    ASSERT_TRUE(echo);
    EXPECT_EQ(u16_at(*echo, 26), held);
    sim->control().send_button(2, false);
  }
  auto keys = sim->control().received_keys();
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[0].code, 'a');
  EXPECT_EQ(keys[0].modifiers, 1);
  EXPECT_EQ(keys[1].code, lvxsim::kKeyFlush);
}

TEST(TrackerControl, BitmapAcknowledgementsResendAndCompletion) {
  auto sim = start_control(185);
  Display d(*sim);
  auto ack_with = [&](int16_t v) {
    return d.until(
        [v](const Packet &p) {
          return is_status(p, 50) && static_cast<int16_t>(u16_at(p, 22)) == v;
        },
        2000);
  };
  auto r = d.result(d.command("start_bitmap_transfer 0 10 20 64 32"));
  ASSERT_TRUE(r);
  EXPECT_EQ(status_text(*r), "64 32 0 0 32 0");
  auto credit = ack_with(8);
  ASSERT_TRUE(credit);
  EXPECT_EQ(credit->size(), 37u);  // type 50: text length + 37
  d.send(image_pkt(1, 510));
  ASSERT_TRUE(ack_with(1));
  d.send(image_pkt(2, 100));
  ASSERT_TRUE(ack_with(1));
  d.send(image_pkt(4, 10));  // 3 went missing: resend from 3
  ASSERT_TRUE(ack_with(-3));
  d.send(image_pkt(3, 0));  // the end marker
  ASSERT_TRUE(ack_with(lvxsim::kBitmapComplete));
  auto bmp = sim->control().bitmap();
  EXPECT_TRUE(bmp.complete);
  ASSERT_EQ(bmp.bytes.size(), 610u);
  EXPECT_EQ(bmp.bytes[0], 1);
  EXPECT_EQ(bmp.bytes[510], 2);
  EXPECT_EQ(bmp.resend_requests, 1u);
}

TEST(TrackerControl, DriftCorrectionTargetsAndEscape) {
  lvxsim::ControlConfig cc;
  cc.link_interval_ms = 0;
  auto sim = start_control(186, cc);
  Display d(*sim);
  ASSERT_TRUE(d.result(d.command("drift_correction_targets = 512.500 384.250")));
  auto r = d.result(d.command("start_drift_correction data=0,0,0,0"));
  ASSERT_TRUE(r);
  EXPECT_EQ((*r)[2], lvxsim::kModeDriftCorrection);
  auto show = d.until([](const Packet &p) { return is_status(p, 100); }, 2000);
  ASSERT_TRUE(show);
  EXPECT_EQ(status_text(*show), "show_fixpoint 512.500000 384.250000");
  EXPECT_EQ(u16_at(*show, 22), 513);  // rounded, for displays that read values
  EXPECT_EQ(show->size(), status_text(*show).size() + 35);
  EXPECT_TRUE(sim->control().target_visible());
  ASSERT_TRUE(d.result(d.command("accept_target_fixation")));
  ASSERT_TRUE(d.until([](const Packet &p) { return is_status(p, 101); }, 2000));
  auto info = d.until([](const Packet &p) { return is_status(p, 103); }, 2000);
  ASSERT_TRUE(info);
  EXPECT_EQ(u16_at(*info, 22), 0);
  EXPECT_EQ(sim->control().mode(), lvxsim::kModeIdle);
  EXPECT_FALSE(sim->control().target_visible());
  ASSERT_TRUE(d.result(d.command("link_sync_status")));
  auto again = d.until([](const Packet &p) { return is_status(p, 103); }, 2000);
  ASSERT_TRUE(again);
  EXPECT_EQ(status_text(*again), status_text(*info));

  // Escape from a drift correction aborts it with result 27.
  ASSERT_TRUE(d.result(d.command("start_drift_correction data=0,0,0,0")));
  d.send(key_pkt(lvxsim::kKeyEscape, 0, 0, 0));
  auto aborted = d.until([](const Packet &p) { return is_status(p, 103); }, 2000);
  ASSERT_TRUE(aborted);
  EXPECT_EQ(u16_at(*aborted, 22), 27);
  ASSERT_TRUE(
      d.until([](const Packet &p) { return p[2] == lvxsim::kModeIdle && p[3] == 0; }, 2000));
}

TEST(TrackerControl, KeepAliveFollowsTheLinkUpdateIntervalAndIsOffByDefault) {
  auto sim = start_control(187);
  Display d(*sim);
  ASSERT_TRUE(d.result(d.command("link_update_interval = 20")));
  int keepalives = 0;
  for (const Packet &p : d.collect(400)) keepalives += is_status(p, 128);
  EXPECT_GE(keepalives, 8);
  EXPECT_LE(keepalives, 30);

  // Without the control side: no keep-alive, no mode, requests unanswered.
  lvxsim::Config plain;
  plain.ip = {127, 0, 0, 188};
  lvxsim::SimTracker quiet(plain);
  ASSERT_TRUE(quiet.start());
  Display q(quiet);
  auto r = q.result(q.command("setup_menu_mode"));
  ASSERT_TRUE(r);
  EXPECT_EQ((*r)[2], 0);
  q.command("sample_rate", lvxsim::kCommandTypeRead);
  for (const Packet &p : q.collect(200)) {
    EXPECT_FALSE(is_status(p, 128));
    EXPECT_FALSE(is_status(p, 21));
  }
}

}  // namespace
