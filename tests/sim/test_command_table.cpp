// The tracker's command table: command names, known and unknown commands, and the precedence of
// per-test rules.
#include <gtest/gtest.h>

#include <string>

#include "sim/command_table.h"

namespace {

using lvxsim::builtin_result;
using lvxsim::command_name;

TEST(SimCommandTable, NameIsTheFirstWordEndingAtBlankEqualsOrEnd) {
  EXPECT_EQ(command_name("screen_pixel_coords = 0 0 1023 767"), "screen_pixel_coords");
  EXPECT_EQ(command_name("sample_rate 1000"), "sample_rate");
  EXPECT_EQ(command_name("link_send_ellipse_parameters=0"), "link_send_ellipse_parameters");
  EXPECT_EQ(command_name("echo\thello"), "echo");
  EXPECT_EQ(command_name("clear_screen\ndraw_cross 1 2"), "clear_screen");
  EXPECT_EQ(command_name("  Set_Idle_Mode"), "set_idle_mode");
  EXPECT_EQ(command_name("=5"), "");
  EXPECT_EQ(command_name(""), "");
}

TEST(SimCommandTable, EveryCommandTheLibrarySendsIsKnownInAnyCase) {
  for (const char *text : {"set_idle_mode",
                           "set_imaging_mode",
                           "setup_menu_mode",
                           "accept_target_fixation",
                           "drift_correction_targets 512 384",
                           "start_drift_correction data=0,0,0,0",
                           "apply_last_drift_correction",
                           "lock_record_exit = YES",
                           "start_recording 1 1 1 1",
                           "start_playback",
                           "abort_playback",
                           "file_close_complete",
                           "link_sync_status",
                           "enable_eye_video_stream = yes",
                           "heuristic_filter = ON",
                           "link_update_interval = 50",
                           "long_filename_enabled = YES",
                           "screen_pixel_coords = 0 0 1023 767",
                           "open_data_file test.qrd",
                           "close_data_file",
                           "link_send_ellipse_parameters=1",
                           "start_bitmap_transfer 0 0 0 640 480",
                           "stop_bitmap_transfer",
                           "draw_image a.bmp",
                           "start_file_transfer test.qrd",
                           "abort_file_transfer",
                           "send_camera_image 0x1",
                           "setup_mode_global_click=0.5000 0.5000",
                           "calibration_type = HV9",
                           "record_status_message 'TRIAL 1'",
                           "clear_screen 0",
                           "draw_cross 512 384 15",
                           "draw_box 1 2 3 4 15",
                           "draw_filled_box 1 2 3 4 7",
                           "draw_line 1 2 3 4 15",
                           "draw_text 100 100 15 hello",
                           "add_file_preamble_text 'exp'",
                           "file_sample_data = GAZE",
                           "file_event_filter = LEFT,FIXATION",
                           "link_sample_data = GAZE",
                           "link_event_filter = LEFT",
                           "echo hi",
                           "ECHO HI",
                           "Close_Data_File"}) {
    EXPECT_EQ(builtin_result(text), lvxsim::kResultOk) << text;
  }
}

TEST(SimCommandTable, UnknownCommandsAnswerOne) {
  // Near misses of known names are not known: the whole first word must match.
  for (const char *text : {"set_idle_modes", "set_idle", "no_such_command 1", "", " ", "=1",
                           "draw-cross 1 2", "echo_ hi"}) {
    EXPECT_EQ(builtin_result(text), lvxsim::kResultUnknownCommand) << '"' << text << '"';
  }
}

TEST(SimCommandTable, SampleRateOutsideTheCameraRatesIsABadValue) {
  for (const char *text :
       {"sample_rate 250", "sample_rate = 500", "SAMPLE_RATE=1000", "sample_rate 2000 "}) {
    EXPECT_EQ(builtin_result(text), lvxsim::kResultOk) << text;
  }
  for (const char *text : {"sample_rate 333", "sample_rate", "sample_rate = ", "sample_rate 1000x",
                           "sample_rate -1000", "sample_rate 1000 2000"}) {
    EXPECT_EQ(builtin_result(text), lvxsim::kResultBadValue) << text;
  }
}

TEST(SimCommandTable, WholeTextRuleWinsOverNameRuleAndBothIgnoreCase) {
  lvxsim::CommandRules rules;
  EXPECT_FALSE(rules.find("draw_cross 1 2"));
  rules.set("DRAW_CROSS", {-4, 0, true, "by name"});
  rules.set("draw_cross 1 2", {-2, 50, true, "whole"});
  rules.set("close_data_file", {0, 0, false, ""});

  auto whole = rules.find("Draw_Cross 1 2");
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->result, -2);
  EXPECT_EQ(whole->delay_ms, 50);
  EXPECT_EQ(whole->text, "whole");
  // The whole text must match exactly: a trailing blank or other values fall to the name rule.
  for (const char *text : {"draw_cross 1 2 ", "draw_cross 3 4", "draw_cross=1 2", "draw_cross"}) {
    auto named = rules.find(text);
    ASSERT_TRUE(named) << text;
    EXPECT_EQ(named->result, -4) << text;
  }
  EXPECT_FALSE(rules.find("draw_crosses 1 2"));

  // Without a rule the built-in answer goes out at once with no text.
  lvxsim::CommandRule plain = lvxsim::answer_for(rules, "sample_rate 333");
  EXPECT_EQ(plain.result, lvxsim::kResultBadValue);
  EXPECT_EQ(plain.delay_ms, 0);
  EXPECT_TRUE(plain.reply);
  EXPECT_TRUE(plain.text.empty());
  EXPECT_FALSE(lvxsim::answer_for(rules, "close_data_file").reply);
  // A rule may make an unknown command succeed.
  rules.set("custom_thing", {});
  EXPECT_EQ(lvxsim::answer_for(rules, "custom_thing 1").result, 0);
  EXPECT_EQ(lvxsim::answer_for(rules, "other_thing 1").result, lvxsim::kResultUnknownCommand);

  // Setting a key again replaces its rule; clearing removes all.
  rules.set("draw_cross", {-9, 0, true, ""});
  EXPECT_EQ(rules.find("draw_cross 3 4")->result, -9);
  rules.clear();
  EXPECT_TRUE(rules.empty());
  EXPECT_EQ(lvxsim::answer_for(rules, "draw_cross 1 2").result, lvxsim::kResultOk);
}

}  // namespace
