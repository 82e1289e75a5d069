// Tracker control against the simulated tracker with its mode machine: mode changes and their
// settle waits, recording start and stop, read and time requests, keys and buttons (and a key
// the application's input poll reports, echoed), calibration and drift-correction reports, user
// menus, playback and the bitmap acknowledgements.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "control/input.h"
#include "sim/tracker_control.h"
#include "sim_fixture.h"

namespace {

using simtest::wait_until;

int g_polls = 0;

// The application's poll: left shift + left control "A" pressed on the first poll, then nothing.
int16_t poll_one_key(InputEvent *events) {
  if (g_polls++ > 0) return 0;
  events[0] = InputEvent{};
  events[0].type = 1;
  events[0].state = 1;
  events[0].key = 0x41;
  events[0].modifiers = 0x0041;
  return 1;
}

class TrackerControlLink : public simtest::TransportTest {
 protected:
  void connect(int n, int settle_ms = 20) {
    lvxsim::Config c;
    c.control.enabled = true;
    c.control.settle_ms = settle_ms;
    c.control.stream.rate_hz = 500;
    start_tracker(n, c);
    ASSERT_EQ(open_lumavex_connection(0), 0);
    ASSERT_TRUE(sim().wait_for_commands(1, 2000));  // "link_update_interval = 50"
  }

  void TearDown() override {
    if (sim_) sim_->stop_streaming();
    setup_graphic_hook_functions(nullptr);
    SimTest::TearDown();
  }

  lvxsim::TrackerControl &tracker() { return sim().control(); }
};

TEST_P(TrackerControlLink, ModeChangesSettleAndAreReported) {
  connect(at(140, 239));
  EXPECT_EQ(lumavex_start_setup(), 0);
  EXPECT_EQ(tracker().mode(), lvxsim::kModeSetupMenu);
  EXPECT_EQ(lumavex_wait_for_mode_ready(0), 1);  // the settle wait saw the flag fall
  EXPECT_NE(lumavex_current_mode() & IN_SETUP_MODE, 0);
  EXPECT_NE(lumavex_in_setup(), 0);
  EXPECT_TRUE(received_command("setup_menu_mode"));

  EXPECT_EQ(lumavex_set_tracker_setup_default(1), 1);
  EXPECT_EQ(lumavex_start_setup(), 0);
  EXPECT_TRUE(received_command("set_imaging_mode"));
  EXPECT_EQ(lumavex_current_mode() & IN_IMAGE_MODE, IN_IMAGE_MODE);

  EXPECT_EQ(lumavex_abort(), 0);
  EXPECT_EQ(tracker().mode(), lvxsim::kModeIdle);
  ASSERT_TRUE(wait_until([] { return (lumavex_current_mode() & IN_IDLE_MODE) != 0; }));
  size_t commands = sim().command_log().size();
  EXPECT_EQ(lumavex_abort(), 0);  // already idle: nothing is sent
  EXPECT_EQ(sim().command_log().size(), commands);
}

TEST_P(TrackerControlLink, ModeReadyWaitTimesOutWhileTheTrackerSettles) {
  connect(at(141, 240), 2000);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(lumavex_start_setup(), 0);  // the settle wait gives up after 500 ms
  EXPECT_GE(simtest::ms_since(start), 450);
  EXPECT_EQ(lumavex_wait_for_mode_ready(0), 0);
  EXPECT_EQ(lumavex_wait_for_mode_ready(50), 0);
}

TEST_P(TrackerControlLink, RecordingStartsAndStopsTheStream) {
  connect(at(142, 241));
  EXPECT_EQ(lumavex_data_start(0x0F, 1), 0);
  EXPECT_TRUE(received_command("lock_record_exit = YES"));
  EXPECT_TRUE(received_command("start_recording break data =  1,1,1,1, "));
  EXPECT_EQ(lumavex_wait_for_block_start(2000, 1, 1), 1);
  EXPECT_EQ(lumavex_wait_for_data(2000, 1, 0), 1);
  EXPECT_EQ(lumavex_in_data_block(1, 1), 1);
  EXPECT_NE(lumavex_current_mode() & IN_RECORD_MODE, 0);
  EXPECT_EQ(lumavex_eye_available(), 2);
  EXPECT_NE(lumavex_sample_data_flags(), 0);
  EXPECT_EQ(lumavex_position_prescaler(), 10);
  ASSERT_TRUE(wait_until([] { return lumavex_data_count(1, 0) >= 20; }));

  EXPECT_EQ(lumavex_data_stop(), 0);
  EXPECT_EQ(tracker().mode(), lvxsim::kModeIdle);
  ASSERT_TRUE(wait_until([] {
    float_data slots[50];
    lumavex_get_all_float_data(slots, 50);
    return lumavex_in_data_block(1, 1) == 0;
  }));
  auto rec = tracker().last_recording();
  ASSERT_TRUE(rec);
  EXPECT_TRUE(rec->finished);
  EXPECT_TRUE(rec->lock_record_exit);
  EXPECT_GT(rec->file_samples, 0u);
}

TEST_P(TrackerControlLink, EveryStartFlagCombination) {
  connect(at(139, 238));
  for (uint16_t flags = 0; flags < 16; ++flags) {
    SCOPED_TRACE(flags);
    ASSERT_EQ(lumavex_data_start(flags, 0), 0);
    char text[64];
    std::snprintf(text, sizeof text, "start_recording break data =  %d,%d,%d,%d, ", flags & 1,
                  (flags >> 1) & 1, (flags >> 2) & 1, (flags >> 3) & 1);
    EXPECT_EQ(sim().command_log().back(), text);
    const link_state *st = lumavex_data_status();
    EXPECT_EQ(st->samples_on, (flags & 0x04) ? 1 : 0);
    EXPECT_EQ(st->events_on, (flags & 0x08) ? 1 : 0);
    if (flags == 0x03) {  // file only: nothing comes over the link
      EXPECT_EQ(lumavex_wait_for_data(200, 1, 1), 0);
      EXPECT_EQ(lumavex_data_count(1, 1), 0);
    }
    EXPECT_EQ(lumavex_data_stop(), 0);
    EXPECT_EQ(lumavex_data_status()->samples_on, 0);
  }
  EXPECT_TRUE(received_command("lock_record_exit = NO"));
}

TEST_P(TrackerControlLink, ReadRequestsAndTrackerTime) {
  connect(at(144, 243));
  tracker().set_variable("calibration_area_proportion", "0.88 0.83");
  EXPECT_EQ(lumavex_read_request("calibration_area_proportion"), 0);
  char reply[200] = {};
  ASSERT_TRUE(wait_until([&] { return lumavex_read_reply(reply) == 0; }));
  EXPECT_STREQ(reply, "0.88 0.83");
  EXPECT_EQ(lumavex_read_request("screen_pixel_coords"), 0);
  ASSERT_TRUE(wait_until([&] { return lumavex_read_reply(reply) == 0; }));
  EXPECT_EQ(std::string(reply), *tracker().variable("screen_pixel_coords"));
  EXPECT_EQ(lumavex_read_request(std::string(1000, 'v').c_str()), -3);

  EXPECT_EQ(lumavex_request_time(), 0);
  uint32_t t = 0;
  ASSERT_TRUE(wait_until([&] { return (t = lumavex_read_time()) != 0; }));
  int64_t now_ms = sim().now_us() / 1000;
  EXPECT_LE(t, static_cast<uint32_t>(now_ms));
  EXPECT_GT(t + 1000, static_cast<uint32_t>(now_ms));
}

TEST_P(TrackerControlLink, KeysAndButtonsBothWays) {
  connect(at(145, 244));
  ASSERT_TRUE(tracker().send_key('a', 0x0001, 0x1E));
  uint16_t code = 0;
  int16_t mods = 0, state = 0;
  uint16_t raw = 0;
  uint32_t time = 0;
  ASSERT_TRUE(
      wait_until([&] { return (code = lumavex_read_keybutton(&mods, &state, &raw, &time)) != 0; }));
  EXPECT_EQ(code, 'a');
  EXPECT_EQ(mods, 1);
  EXPECT_EQ(raw, 0);  // a key packet from the tracker ends before the raw code
  EXPECT_GT(time, 0u);

  ASSERT_TRUE(tracker().send_button(2, true));
  ASSERT_TRUE(wait_until([] { return lumavex_button_states() == 0x0002; }));
  uint32_t press_time = 0;
  EXPECT_EQ(lumavex_last_button_press(&press_time), 2);
  // Both button records report the same press: reading one clears the other.
  EXPECT_EQ(lumavex_last_button_states(nullptr), 0);
  // With buttons as keys, the press is also a key of code -256.
  EXPECT_EQ(lumavex_read_keybutton(nullptr, &state, nullptr, nullptr), 0xFF00);
  EXPECT_EQ(state, 10);

  EXPECT_EQ(lumavex_send_keybutton('x', 0, 0), 0);
  EXPECT_EQ(lumavex_send_keybutton(0xFF00, 3, 10), 0);  // button 3 pressed
  ASSERT_TRUE(wait_until([&] { return tracker().received_keys().size() >= 2; }));
  auto keys = tracker().received_keys();
  EXPECT_EQ(keys[0].code, 'x');
  EXPECT_EQ(keys[1].button, 3);
  EXPECT_EQ(keys[1].state, 10);

  EXPECT_EQ(lumavex_flush_keybuttons(0), 0);  // the echo brings the tracker's button states
  ASSERT_TRUE(wait_until([] { return lumavex_button_states() == 0x0002; }));
  EXPECT_EQ(lumavex_read_keybutton(nullptr, nullptr, nullptr, nullptr), 0);
}

TEST_P(TrackerControlLink, PolledKeyIsEchoedWithTheTrackersModifierBits) {
  connect(at(150, 249));
  lvx::keyboard().reset();
  GraphicHooks hooks{};
  hooks.poll_input_events_hook = poll_one_key;
  setup_graphic_hook_functions(&hooks);
  EXPECT_EQ(echo_key(), 0x41u);
  EXPECT_EQ(echo_key(), 0u);  // nothing more polled: nothing more sent
  ASSERT_TRUE(wait_until([&] { return !tracker().received_keys().empty(); }));
  auto keys = tracker().received_keys();
  ASSERT_EQ(keys.size(), 1u);
  EXPECT_EQ(keys[0].code, 0x41);
  EXPECT_EQ(keys[0].modifiers, 0x07);
  EXPECT_EQ(keys[0].state, 10);
  EXPECT_EQ(keys[0].button, 0);
  EXPECT_EQ(g_polls, 2);
}

TEST_P(TrackerControlLink, CalibrationTargetAndDriftCorrection) {
  connect(at(146, 245));
  ASSERT_TRUE(tracker().show_target(512.5f, 384.25f));
  float x = 0, y = 0;
  ASSERT_TRUE(wait_until([&] { return lumavex_target_checkf(&x, &y) == 1; }));
  EXPECT_FLOAT_EQ(x, 512.5f);
  EXPECT_FLOAT_EQ(y, 384.25f);
  ASSERT_TRUE(tracker().hide_target());
  ASSERT_TRUE(wait_until([&] { return lumavex_target_checkf(&x, &y) == 0; }));
  ASSERT_TRUE(tracker().calibration_info(0, "calibration result: GOOD"));
  ASSERT_TRUE(wait_until([] { return lumavex_cal_message(nullptr) > 0; }));
  char msg[100];
  lumavex_cal_message(msg);
  EXPECT_STREQ(msg, "calibration result: GOOD");
  EXPECT_EQ(lumavex_cal_result(), 0);
  EXPECT_EQ(lumavex_cal_result(), 1000);  // taken once

  EXPECT_EQ(lumavex_driftcorr_startf(400.0f, 300.0f), 0);
  EXPECT_TRUE(received_command("drift_correction_targets = 400.000 300.000"));
  EXPECT_EQ(tracker().mode(), lvxsim::kModeDriftCorrection);
  EXPECT_EQ(lumavex_current_mode() & 0x1A, 0x1A);
  EXPECT_EQ(lumavex_accept_trigger(), 0);
  EXPECT_EQ(lumavex_apply_driftcorr(), 0);
  EXPECT_TRUE(received_command("apply_last_drift_correction 1.0"));
}

TEST_P(TrackerControlLink, UserMenuSelectionsAreTakenOnce) {
  connect(at(147, 246));
  EXPECT_EQ(lumavex_user_menu_selection(), 0);
  ASSERT_TRUE(tracker().select_user_menu(1, 3));
  ASSERT_TRUE(wait_until([] { return (lumavex_current_mode() & IN_USER_MENU) != 0; }));
  int16_t selection = 0;
  ASSERT_TRUE(wait_until([&] { return (selection = lumavex_user_menu_selection()) != 0; }));
  EXPECT_EQ(selection, 3);
  EXPECT_EQ(lumavex_user_menu_selection(), 0);
}

TEST_P(TrackerControlLink, PlaybackOfTheLastRecording) {
  connect(at(148, 247));
  ASSERT_EQ(lumavex_data_start(0x0F, 0), 0);
  ASSERT_TRUE(wait_until([] { return lumavex_data_count(1, 0) >= 100; }));
  ASSERT_EQ(lumavex_data_stop(), 0);
  EXPECT_EQ(lumavex_playback_start(), 0);
  EXPECT_NE(lumavex_current_mode() & IN_PLAYBACK_MODE, 0);
  // The reader asks for more playback data whenever its queue runs low.
  int samples = 0;
  float_data slots[50];
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (samples < 100 && std::chrono::steady_clock::now() < deadline) {
    int n = lumavex_wait_for_next_data(slots, 50, 2);
    for (int k = 0; k < n; ++k)
      if (slots[k].head.type == EV_SAMPLE) ++samples;
    if (n == 0) msec_delay(1);
  }
  EXPECT_GE(samples, 100);
  EXPECT_GT(tracker().playback_requests(), 0u);
  EXPECT_EQ(lumavex_playback_stop(), 0);
}

TEST_P(TrackerControlLink, BitmapPacketsAreAcknowledged) {
  connect(at(149, 248));
  ASSERT_EQ(lumavex_timed_command(2000, "start_bitmap_transfer 0 0 0 16 16"), 0);
  ASSERT_TRUE(wait_until([] { return lumavex_bitmap_ack_count() > 0; }));  // the first credit
  std::vector<uint8_t> row(512, 0x5A);
  EXPECT_EQ(lumavex_bitmap_packet(row.data(), 512, 1), 0);
  EXPECT_EQ(lumavex_bitmap_packet(row.data(), 513, 2), -1);
  int acked = 0;
  ASSERT_TRUE(wait_until([&] { return (acked += lumavex_bitmap_ack_count()) >= 1; }));
  EXPECT_EQ(tracker().bitmap().bytes.size(), 512u);
  ASSERT_TRUE(tracker().send_bitmap_ack(-5));
  ASSERT_TRUE(wait_until([] { return lumavex_bitmap_ack_count() == -5; }));
}

INSTANTIATE_TEST_SUITE_P(Transports, TrackerControlLink, simtest::kBothTransports,
                         simtest::transport_name);

// Playback data is asked for only while the tracker's packets say that it plays a recording back
// (bit 1 of header byte 18): the first request of a playback as much as the reader's later ones.
class PlaybackGate : public simtest::SimTest {};

TEST_F(PlaybackGate, NoRequestBeforeTheTrackerSaysItPlaysBack) {
  connect_to_tracker(307);  // answers commands, without a mode machine: byte 18 stays 0
  auto is_request = [](const lvxsim::ReceivedPacket &p) {
    return p.bytes.size() >= 30 && p.bytes[0] == COMMAND_PKT && p.bytes[25] == 61;
  };
  EXPECT_EQ(lumavex_playback_start(), 0);
  EXPECT_FALSE(sim().wait_for(is_request, 200));
  EXPECT_EQ(lumavex_get_next_data(nullptr), 0);
  EXPECT_FALSE(sim().wait_for(is_request, 100));

  // Once a packet says so, the reader's pacing asks.
  sim().set_header_byte18(0x02);
  ASSERT_NE(lumavex_timed_command(1000, "echo"), NO_REPLY);
  EXPECT_EQ(lumavex_get_next_data(nullptr), 0);
  EXPECT_TRUE(sim().wait_for(is_request, 1000));
}

}  // namespace
