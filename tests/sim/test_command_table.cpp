// The tracker's command table: the built-in result of every command the library sends, of near
// misses and of sample rates. (Per-test rules are exercised through the library by the
// integration tests.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <sstream>
#include <string>
#include <utility>

#include "sim/command_table.h"

namespace {

using lvxsim::builtin_result;

TEST(SimCommandTable, BuiltinResults) {
  // Every command the library sends is known, in any case.
  std::istringstream known(
      "set_idle_mode set_imaging_mode setup_menu_mode accept_target_fixation "
      "drift_correction_targets start_drift_correction apply_last_drift_correction "
      "lock_record_exit start_recording start_playback abort_playback file_close_complete "
      "link_sync_status enable_eye_video_stream heuristic_filter link_update_interval "
      "long_filename_enabled screen_pixel_coords open_data_file close_data_file "
      "link_send_ellipse_parameters start_bitmap_transfer stop_bitmap_transfer draw_image "
      "start_file_transfer abort_file_transfer send_camera_image setup_mode_global_click "
      "calibration_type record_status_message clear_screen draw_cross draw_box draw_filled_box "
      "draw_line draw_text add_file_preamble_text file_sample_data file_event_filter "
      "link_sample_data link_event_filter echo");
  for (std::string name; known >> name;) {
    EXPECT_EQ(builtin_result(name + " = 1"), lvxsim::kResultOk) << name;
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    EXPECT_EQ(builtin_result(name), lvxsim::kResultOk) << name;
  }
  // The name is the first word, ending at a blank, '=' or the end; near misses are unknown. A
  // sample rate must be one the camera runs at, given as one whole number.
  const std::pair<const char *, int16_t> cases[] = {
      {"link_send_ellipse_parameters=0", lvxsim::kResultOk},
      {"echo\thello", lvxsim::kResultOk},
      {"clear_screen\ndraw_cross 1 2", lvxsim::kResultOk},
      {"  Set_Idle_Mode", lvxsim::kResultOk},
      {"set_idle_modes", lvxsim::kResultUnknownCommand},
      {"set_idle", lvxsim::kResultUnknownCommand},
      {"draw-cross 1 2", lvxsim::kResultUnknownCommand},
      {"echo_ hi", lvxsim::kResultUnknownCommand},
      {" ", lvxsim::kResultUnknownCommand},
      {"=1", lvxsim::kResultUnknownCommand},
      {"sample_rate 250", lvxsim::kResultOk},
      {"sample_rate = 500", lvxsim::kResultOk},
      {"SAMPLE_RATE=1000", lvxsim::kResultOk},
      {"sample_rate 2000 ", lvxsim::kResultOk},
      {"sample_rate 333", lvxsim::kResultBadValue},
      {"sample_rate", lvxsim::kResultBadValue},
      {"sample_rate = ", lvxsim::kResultBadValue},
      {"sample_rate 1000x", lvxsim::kResultBadValue},
      {"sample_rate -1000", lvxsim::kResultBadValue},
      {"sample_rate 1000 2000", lvxsim::kResultBadValue}};
  for (const auto &[text, result] : cases) EXPECT_EQ(builtin_result(text), result) << text;
}

}  // namespace
