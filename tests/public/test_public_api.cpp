// The interface exactly as users see it: only lumavex_core.h and the shared library.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "lumavex_core.h"
#include "sim/tracker.h"

// The layout users compile against must not drift.
static_assert(sizeof(LVXADDR) == 16);
static_assert(offsetof(LVXADDR, addr) == 0);
static_assert(offsetof(LVXADDR, port) == 4);
static_assert(offsetof(LVXADDR, unused) == 6);
static_assert(sizeof(LVXNODE) == 56);
static_assert(offsetof(LVXNODE, name) == 16);
static_assert(sizeof(MICRO_TIME) == 8);
static_assert(offsetof(MICRO_TIME, usec) == 4);
static_assert(NO_REPLY == 1000 && LINK_TERMINATED_RESULT == -100 && OK_RESULT == 0);

// Data-stream records: sizes and the offsets of the fields that mark their parts.
static_assert(sizeof(float_sample) == 228);
static_assert(offsetof(float_sample, pupil_x) == 8);
static_assert(offsetof(float_sample, gaze_x) == 48);
static_assert(offsetof(float_sample, res_x) == 64);
static_assert(offsetof(float_sample, status) == 72);
static_assert(offsetof(float_sample, aux_data) == 80);
static_assert(offsetof(float_sample, extra_a) == 96);
static_assert(offsetof(float_sample, extra_word) == 120);
static_assert(offsetof(float_sample, extra3_points) == 188);
static_assert(sizeof(compact_float_sample) == 96);
static_assert(sizeof(float_event) == 236);
static_assert(offsetof(float_event, eye) == 8);
static_assert(offsetof(float_event, start_time) == 12);
static_assert(offsetof(float_event, start_href_x) == 20);
static_assert(offsetof(float_event, avg_velocity) == 80);
static_assert(offsetof(float_event, end_res_y) == 108);
static_assert(offsetof(float_event, status) == 112);
static_assert(offsetof(float_event, ext_pairs_a) == 116);
static_assert(offsetof(float_event, ext_triplets_b) == 200);
static_assert(sizeof(compact_float_event) == 116);
static_assert(sizeof(message_event) == 268 && offsetof(message_event, text) == 8);
static_assert(sizeof(io_event) == 8 && offsetof(io_event, data) == 6);
static_assert(sizeof(float_data) == 268);
static_assert(sizeof(double_sample) == 232);
static_assert(offsetof(double_sample, type) == 8);
static_assert(offsetof(double_sample, pupil_x) == 12);
static_assert(offsetof(compact_double_sample, aux_data) + sizeof(uint16_t[8]) == 100);
static_assert(sizeof(double_event) == 248);
static_assert(offsetof(double_event, start_time) == 16);
static_assert(offsetof(double_event, end_time) == 24);
static_assert(offsetof(double_event, start_href_x) == 32);
static_assert(offsetof(double_event, ext_pairs_a) == 128);
static_assert(sizeof(double_message_event) == 272);
static_assert(sizeof(double_io_event) == 16);
static_assert(sizeof(double_data) == 272);
static_assert(sizeof(link_sample_item) == 212 && sizeof(link_event_item) == 212);
static_assert(sizeof(link_data_item) == 268);
static_assert(offsetof(link_sample_item, block) == 64);
static_assert(offsetof(link_event_item, extended) == 68);
static_assert(offsetof(link_state, last_item) == 48);
static_assert(offsetof(link_state, block_number) == 316);
static_assert(offsetof(link_state, queue_size) == 344);
static_assert(offsetof(link_state, packet_flags) == 358);
static_assert(offsetof(link_state, tracker_address) == 360);
static_assert(offsetof(link_state, tracker_name) == 376);
static_assert(offsetof(link_state, own_name) == 416);
static_assert(offsetof(link_state, own_address) == 456);
static_assert(offsetof(link_state, tracker_broadcast) == 472);
static_assert(offsetof(link_state, remote_broadcast) == 488);
static_assert(offsetof(link_state, poll_mode) == 504);
static_assert(offsetof(link_state, poll_count) == 506);
static_assert(offsetof(link_state, poll_responses) == 508 && sizeof(LVXNODE) == 56);
static_assert(offsetof(link_state, header_word16) == 732);
static_assert(offsetof(link_state, header_word14) == 734);
static_assert(offsetof(link_state, header_byte18) == 736);
static_assert(offsetof(link_state, header_byte19) == 737);
static_assert(offsetof(link_state, tracker_mode_word) == 738);
static_assert(sizeof(link_state) == 740);

// Gaze arithmetic records.
static_assert(sizeof(raw_values) == 72);
static_assert(offsetof(raw_values, pupil_raw_x) == 4);
static_assert(offsetof(raw_values, cr_raw_y) == 16);
static_assert(offsetof(raw_values, pupil_area) == 20);
static_assert(offsetof(raw_values, cr_area) == 24);
static_assert(offsetof(raw_values, pupil_dim) == 28);
static_assert(offsetof(raw_values, cr_dim) == 36);
static_assert(offsetof(raw_values, origin_x) == 44);
static_assert(offsetof(raw_values, pupil_cr_x) == 52);
static_assert(offsetof(raw_values, aux_code) == 60);
static_assert(offsetof(raw_values, aux_point) == 64);
static_assert(sizeof(corrected_raw) == 28);
static_assert(offsetof(corrected_raw, diff_x) == 16);
static_assert(offsetof(corrected_raw, pupil_area) == 24);

// Camera images and the crosshair canvas.
static_assert(sizeof(PaletteInfo) == 48);
static_assert(offsetof(PaletteInfo, camera) == 2);
static_assert(offsetof(PaletteInfo, flags) == 4);
static_assert(offsetof(PaletteInfo, cr_threshold) == 8);
static_assert(offsetof(PaletteInfo, markers34) == 10);
static_assert(offsetof(PaletteInfo, grey_first) == 18);
static_assert(offsetof(PaletteInfo, colour_count) == 22);
static_assert(offsetof(PaletteInfo, colours) == 24);
static_assert(offsetof(PaletteInfo, ramp1) == 32);
static_assert(offsetof(PaletteInfo, ramp2) == 40);
static_assert(offsetof(CrosshairCanvas, width) == sizeof(void *));
static_assert(offsetof(CrosshairCanvas, last_mouse_state) == sizeof(void *) + 8);
static_assert(offsetof(CrosshairCanvas, draw_line) == sizeof(void *) + 16);
static_assert(offsetof(CrosshairCanvas, get_mouse_state) == 3 * sizeof(void *) + 16);
static_assert(CR_HAIR_COLOR == 1 && MARKER_COLOR_WEAK == 7);
static_assert(sizeof(GraphicHooks) == 17 * sizeof(void *));
static_assert(offsetof(GraphicHooks, poll_input_events_hook) == 15 * sizeof(void *));
static_assert(sizeof(GraphicHooksV2) == 19 * sizeof(void *));
static_assert(offsetof(GraphicHooksV2, user_data) == 2 * sizeof(void *));
static_assert(offsetof(GraphicHooksV2, open_target_screen_hook) == 3 * sizeof(void *));
static_assert(offsetof(GraphicHooksV2, alert_hook) == 14 * sizeof(void *));
static_assert(offsetof(GraphicHooksV2, reserved2) == 15 * sizeof(void *));
static_assert(sizeof(pixel_format) == 16);
static_assert(offsetof(pixel_format, alpha_mask) == 12);
static_assert(offsetof(bitmap_record, pitch) == 8);
static_assert(offsetof(bitmap_record, depth) == 12);
static_assert(offsetof(bitmap_record, pixels) == 16);
static_assert(offsetof(bitmap_record, format) == 16 + sizeof(void *));
static_assert(sizeof(bitmap_record) == 16 + 2 * sizeof(void *));
static_assert(BACKDROP_VIA_FILE == 0x20 && BACKDROP_GREY == 0x10 && BACKDROP_TRANSFER == 0x100);

namespace {

TEST(PublicApi, ConnectsThroughTheSharedLibrary) {
  lvxsim::Config c;
  c.ip = {127, 0, 0, 50};
  c.version_text = "LUMAVEX TQ 1.2";
  c.keepalive_interval_ms = 5;
  lvxsim::SimTracker sim(c);
  std::string error;
  ASSERT_TRUE(sim.start(&error)) << error;
  // The tracker listens on a port the system chose: tell the library, as a program would.
  const std::string options = "eyeport=" + std::to_string(sim.udp_endpoint().port);
  ASSERT_EQ(open_lumavex_system(0, options.c_str()), -1);
  ASSERT_EQ(set_lumavex_address("127.0.0.50"), 0);
  ASSERT_EQ(open_lumavex_connection(0), 0);
  EXPECT_EQ(lumavex_is_connected(), 1);
  char version[40] = {};
  EXPECT_EQ(lumavex_get_tracker_version(version), 4);
  EXPECT_STREQ(version, "LUMAVEX TQ 1.2");
  MICRO_TIME t{};
  uint32_t ms = current_micro(&t);
  EXPECT_EQ(t.msec, ms);
  EXPECT_LT(t.usec, 1000);

  // The status record carries the link's fields, as the node queries report them.
  const link_state *st = lumavex_data_status();
  EXPECT_EQ(std::memcmp(st->tracker_address.addr, c.ip.data(), 4), 0);
  EXPECT_EQ(st->tracker_address.port[0] * 256 + st->tracker_address.port[1],
            sim.udp_endpoint().port);
  EXPECT_STREQ(st->tracker_name, "tracker");
  LVXNODE own{}, trackers{}, remotes{};
  ASSERT_EQ(lumavex_get_node(0, &own), 0);
  ASSERT_EQ(lumavex_get_node(-1, &trackers), 0);
  ASSERT_EQ(lumavex_get_node(-2, &remotes), 0);
  EXPECT_STREQ(st->own_name, own.name);
  EXPECT_EQ(std::memcmp(&st->own_address, &own.addr, sizeof own.addr), 0);
  EXPECT_EQ(std::memcmp(&st->tracker_broadcast, &trackers.addr, sizeof trackers.addr), 0);
  EXPECT_EQ(std::memcmp(&st->remote_broadcast, &remotes.addr, sizeof remotes.addr), 0);
  EXPECT_EQ(st->tracker_broadcast.addr[0], 255);
  EXPECT_EQ(st->poll_count, 0);
  EXPECT_EQ(st->record_version, 2u);

  EXPECT_EQ(lumavex_timed_command(2000, "clear_screen 0"), 0);
  EXPECT_EQ(lumavex_timed_command(2000, "brew_coffee"), 1);
  EXPECT_STREQ(lumavex_get_error(1, "lumavex_timed_command"), "Unknown Command");
  EXPECT_EQ(eyemsg_printf("TRIALID %d", 7), 0);
  ASSERT_TRUE(sim.wait_for_messages(1, 2000));
  EXPECT_EQ(sim.recorded_messages()[0].text, "TRIALID 7");
  close_lumavex_connection();
  EXPECT_EQ(lumavex_is_connected(), 0);
}

TEST(PublicApi, CameraImageCallsWithoutATracker) {
  // Kind out of range, no image in flight, no link.
  EXPECT_EQ(lumavex_request_image(10, 192, 160), -1);
  PaletteInfo info;
  EXPECT_EQ(lumavex_get_palette(&info), -1);
  uint8_t line[512];
  EXPECT_EQ(lumavex_get_line(line), -1);
  EXPECT_EQ(lumavex_image_status(), 0);
  EXPECT_EQ(image_display_kernal_iterate(0), 0);  // without a link the view just closes
  EXPECT_EQ(do_tracker_setup(), -1);              // not connected
  EXPECT_EQ(do_drift_correct(512, 384, 1, 1), 0);
  EXPECT_STREQ(lumavex_get_error(27, "do_tracker_setup"), "Escape key pressed");
  EXPECT_STREQ(lumavex_get_error(-1, "target_mode_display"), "exit calibration");
  CrosshairCanvas canvas{};
  canvas.width = 640;
  canvas.height = 480;
  EXPECT_EQ(lumavex_draw_cross_hair(&canvas), 0);  // no draw_line: nothing drawn
}

TEST(PublicApi, GazeArithmeticWithoutATracker) {
  EXPECT_DOUBLE_EQ(lumavex_href_angle(15000, 0, 0, 0), 45.0);
  float xres = 0;
  lumavex_href_resolution(0, 0, &xres, nullptr);
  EXPECT_FLOAT_EQ(xres, 261.75f);
  EXPECT_EQ(lumavex_initialize_mapping(0, 0, 1023, 767), -1);  // no tracker, no generation
  float vel[2] = {0, 0};
  EXPECT_EQ(lumavex_calculate_velocity(LUMAVEX_FILTER_5, vel, nullptr), 0);
  EXPECT_EQ(vel[0], MISSING_VALUE);
  EXPECT_EQ(lumavex_reconstr_raw_link_data(nullptr, 0, nullptr), -1);
}

TEST(PublicApi, DummyModeAndVersionText) {
  ASSERT_EQ(open_lumavex_connection(1), 0);
  EXPECT_EQ(lumavex_is_connected(), -1);
  char text[16];
  lumavex_dll_version(text);
  EXPECT_STREQ(text, LUMAVEX_LIBRARY_VERSION_TEXT);
  close_lumavex_connection();
  EXPECT_EQ(lumavex_is_connected(), 0);
}

}  // namespace
