#include "control/error_table.h"

#include <array>
#include <cstring>
#include <string>

#include "control/messages.h"
#include "lumavex_core.h"

namespace lvx {

namespace {

constexpr const char *kCmdResult = "lumavex_command_result";
constexpr const char *kSendCommand = "lumavex_send_command";
constexpr const char *kTimedCommand = "lumavex_timed_command";

// Rows by exported and internal function. Rows of one function are matched in the order they
// stand here, so where a function has two rows for one code the earlier decides. The link send
// routine refers to the empty name, which has no rows: its see-also leads nowhere.
constexpr ErrorRow kFunctionRows[] = {
    {0, "xlink_send", "", ""},
    {-100, "xlink_send", "Link Terminated", ""},
    {-1, "xlink_send", "Socket Error", ""},
    {0, "xlink_send", "", ""},

    {0, "application_terminated", "", nullptr},
    {0, "break_pressed", "", nullptr},
    {0, "check_filename_characters", "", nullptr},
    {0, "current_double_usec", "", nullptr},
    {0, "lumavex_close", "", nullptr},
    {0, "lumavex_data_switch", "", nullptr},
    {0, "lumavex_get_node", "", nullptr},
    {0, "lumavex_image_status", "", nullptr},

    {0, "check_record_exit", "", "record_abort_handler"},

    {0, "check_recording", "", "record_abort_handler"},
    {0, "check_recording", "", "lumavex_is_connected"},
    {3, "check_recording", "", nullptr},
    {-1, "check_recording", "", nullptr},
    {1, "check_recording", "", nullptr},
    {2, "check_recording", "", nullptr},
    {0, "check_recording", "", nullptr},

    {0, "close_data_file", "", kTimedCommand},
    {-100, "close_data_file", "Cannot close file", nullptr},

    {0, "create_path", "File or Directory already exists", nullptr},
    {1, "create_path", "", nullptr},
    {-1, "create_path", "Could not create file or directory", nullptr},

    {0, "do_drift_correct", "", nullptr},
    {-2, "do_drift_correct", "Tracker not connected", "lumavex_cal_result"},
    {-1, "do_drift_correct", "Invalid tracker mode", nullptr},
    {32767, "do_drift_correct", "Terminate key pressed", nullptr},
    {27, "do_drift_correct", "Escape key pressed", nullptr},

    {-1, "open_message_file", "Failed to open message file", nullptr},
    {0, "open_message_file", "", nullptr},

    {0, "do_tracker_setup", "", nullptr},
    {32767, "do_tracker_setup", "Terminate key pressed", nullptr},
    {27, "do_tracker_setup", "Escape key pressed", nullptr},

    {0, "escape_pressed", "", nullptr},
    {1, "escape_pressed", "", nullptr},

    {0, "lumavex_abort", "", kSendCommand},
    {0, "lumavex_accept_trigger", "", kSendCommand},
    {0, "lumavex_apply_driftcorr", "", kSendCommand},
    {0, "lumavex_data_start", "", kSendCommand},
    {0, "lumavex_data_stop", "", kSendCommand},
    {0, "lumavex_driftcorr_start", "", kSendCommand},
    {0, "lumavex_end_file_transfer", "", kSendCommand},
    {0, "lumavex_request_image", "", kSendCommand},
    {0, "lumavex_start_setup", "", kSendCommand},

    {0, "lumavex_bitmap_packet", "", nullptr},
    {-1, "lumavex_bitmap_packet", "", nullptr},
    {-100, "lumavex_bitmap_packet", "Link Terminated", "xlink_send"},

    {-200, "lumavex_broadcast_open", "Link Initialize failed", "init_sys"},
    {0, "lumavex_broadcast_open", "", "do_connect"},

    {27, "lumavex_cal_result", "Abort", nullptr},

    {-1, "lumavex_dummy_open", "", "init_sys"},

    {0, "lumavex_event_data_flags", "", nullptr},
    {65535, "lumavex_event_data_flags", "", nullptr},
    {0, "lumavex_event_type_flags", "", nullptr},
    {65535, "lumavex_event_type_flags", "", nullptr},

    {-100, "lumavex_eye_available", "lumavex not initialized", nullptr},

    {0, "lumavex_flush_keybuttons", "", nullptr},
    {-100, "lumavex_flush_keybuttons", "Link terminated", "lumavex_send_keybutton"},

    {0, "lumavex_get_line", "", "extract_buffer_line"},

    {-1, "lumavex_image_data", "Aborted", nullptr},
    {0, "lumavex_image_data", "Old Palette", nullptr},
    {1, "lumavex_image_data", "", nullptr},

    {0, "lumavex_newest_double_sample", "", "lumavex_newest_float_sample"},
    {0, "lumavex_newest_float_sample", "", "lumavex_newest_sample"},
    {0, "lumavex_newest_sample", "Old Sample", nullptr},
    {1, "lumavex_newest_sample", "", nullptr},
    {-1, "lumavex_newest_sample", "Error or No Samples", nullptr},

    {0, "lumavex_wait_for_new_double_sample", "", "lumavex_wait_for_new_sample"},
    {0, "lumavex_wait_for_new_float_sample", "", "lumavex_wait_for_new_sample"},
    {0, "lumavex_wait_for_new_sample", "Old Sample", nullptr},
    {1, "lumavex_wait_for_new_sample", "", nullptr},
    {-1, "lumavex_wait_for_new_sample", "Error or No Samples", nullptr},

    {0, "lumavex_node_receive", "No Data", nullptr},

    {0, "lumavex_node_request_time", "", "send_cmd_pkt"},
    {0, "lumavex_request_time", "", "send_cmd_pkt"},

    {-1, "lumavex_node_send", "Parameter Error", "xlink_send"},

    {0, "lumavex_node_send_message", "", nullptr},
    {0, "lumavex_node_send_message_ex", "", nullptr},

    {0, "lumavex_open", "", "lumavex_open_node"},
    {0, "lumavex_open_node", "", "init_sys"},
    {-200, "lumavex_open_node", "lumavex not initialized", "do_connect"},

    {-202, "do_connect", "Wrong Link Version", "xlink_send"},
    {-201, "do_connect", "Connection Timed Out", "xlink_send"},
    {-203, "do_connect", "Tracker Bussy", "xlink_send"},

    {-100, "lumavex_playback_start", "Not connected to tracker", kSendCommand},
    {-100, "lumavex_playback_stop", "Not connected to tracker", kSendCommand},

    {-200, "lumavex_poll_remotes", "lumavex not initialized", "xlink_send"},
    {-1, "lumavex_poll_remotes", "Broadcast option not available.", "xlink_send"},
    {-200, "lumavex_poll_trackers", "lumavex not initialized", "xlink_send"},
    {-1, "lumavex_poll_trackers", "Broadcast option not available.", "xlink_send"},

    {0, "lumavex_read_request", "", nullptr},
    {-3, "lumavex_read_request", "Bad Value Result", "send_cmd_pkt"},

    {-110, "lumavex_request_file_block", "Transfer aborted", nullptr},
    {-100, "lumavex_request_file_read", "Link terminated", nullptr},
    {-3, "lumavex_request_file_read", "Bad Value Result", kSendCommand},

    {0, "lumavex_reset_clock", "", "xlink_init_clock"},

    {0, "lumavex_send_keybutton", "", "xlink_send"},
    {-100, "lumavex_send_keybutton", "Link terminated", nullptr},

    {0, "lumavex_send_message", "", "msg_core"},
    {0, "lumavex_send_message_ex", "", "msg_core"},

    {0, "lumavex_tracker_mode", "Lumavex not initialized", nullptr},

    {0, "lumavex_wait_for_block_start", "Not ready or time out", nullptr},
    {1, "lumavex_wait_for_block_start", "", nullptr},
    {-100, "lumavex_wait_for_block_start", "Tracker not connected", nullptr},

    {0, "lumavex_wait_for_data", "Time out", nullptr},
    {-100, "lumavex_wait_for_data", "Tracker not connected", nullptr},
    {1, "lumavex_wait_for_data", "", nullptr},

    {0, "lumavex_wait_for_mode_ready", "Time out", nullptr},
    {-100, "lumavex_wait_for_mode_ready", "Tracker not connected", kCmdResult},
    {-1, "lumavex_wait_for_mode_ready", "Link terminated", nullptr},
    {1, "lumavex_wait_for_mode_ready", "", nullptr},

    {-1, "lumavex2_mode_data", "mode data not available", nullptr},

    {0, "eyemsg_printf", "", "lumavex_send_message"},
    {0, "eyemsg_printf_ex", "", "lumavex_send_message_ex"},

    {0, "file_exists", "file does not exists", nullptr},
    {-1, "file_exists", "cannot access file", nullptr},

    {32767, "image_mode_display", "Terminate key pressed", nullptr},

    {0, "open_data_file", "", kTimedCommand},

    {-1, "open_lumavex_connection", "Cannot open connection", nullptr},
    {-1, "open_lumavex_system", "", nullptr},

    {-113, "receive_file_block", "Bad data", nullptr},

    {0, "set_lumavex_address", "", "text_to_lvxaddr"},

    {-110, "start_file_receive", "transfer aborted", nullptr},
    {-111, "start_file_receive", "Lumavex tracker cannot find the file", nullptr},
    {0, "start_file_receive", "Error transfering file", nullptr},

    {3, "start_recording", "Abort transfer", "check_recording"},
    {-1, "start_recording", "Trial error", nullptr},
    {0, "start_recording", "", nullptr},

    {-1, "target_mode_display", "exit calibration", "lumavex_cal_result"},

    {0, "timemsg_printf", "", "msg_output"},
    {0, "timemsg_printf", "", "msgq_write"},

    {0, "receive_data_file", "", nullptr},
    {-1, "receive_data_file", "File size is negative", nullptr},
    {-2, "receive_data_file", "Cannot create local file", nullptr},
    {-3, "receive_data_file", "File transfer cancelled", nullptr},
    {-4, "receive_data_file", "File transfer aborted", nullptr},
    {-5, "receive_data_file", "Error writing file", nullptr},
    {-6, "receive_data_file", "Link terminated", nullptr},

    {-1, "send_data_file", "Failed to connect tracker ftpd", nullptr},
    {-2, "send_data_file", "Open file failed", nullptr},
    {-4, "send_data_file", "Failed to receive reply from tracker ftpd", nullptr},
    {-5, "send_data_file", "File size sent doesn't match the real file size", nullptr},

    {0, "lumavex_msec_offset",
     "Lumavex Tracker time offset is negative. Use lumavex_double_msec_offset.", nullptr},

    // Rows that come after the functions' other rows: "no reply" results and the late
    // transfer and message failures.
    {-100, "lumavex_node_send_message", "link terminated", "msg_core"},
    {-100, "lumavex_node_send_message_ex", "link terminated", "msg_core"},
    {1000, "lumavex_cal_result", "", nullptr},
    {1000, "lumavex_read_request", "", nullptr},
    {1000, "receive_file_block", "", "lumavex_request_file_block"},
    {-112, "receive_file_block", "", nullptr},
    {-112, "start_file_receive", "", nullptr},
    {1000, "target_mode_display", "", nullptr},
    {1000, "lumavex_read_reply", "", nullptr},
    {1000, "lumavex_get_last_data", "", nullptr},
    {1000, "lumavex_get_file_block", "", "lv_get_file_block"},
    {1000, kTimedCommand, "", kCmdResult},

    {-1, "setup_graphic_hook_functions_V2", "Unsupported Version", nullptr},

    {-1, "lumavex_lvui_open", "Invalid Arguments", nullptr},
    {0, "lumavex_lvui_send_command", "", nullptr},
    {-100, "lumavex_lvui_send_command", "Link terminated", nullptr},
    {0, "lumavex_lvui_send_message", "", nullptr},
    {-100, "lumavex_lvui_send_message", "Link terminated", nullptr},
    {-1, "lumavex_lvui_close", "Failed to disconnect", nullptr},
};

// The tracker's own command results. Every command function reaches them through its see-also.
constexpr ErrorRow kCommandRows[] = {
    {0, "lumavex_wait_for_command_result", "", kCmdResult},
    {0, "eyecmd_printf", "", kCmdResult},
    {0, kSendCommand, "", kCmdResult},
    {0, kTimedCommand, "", kCmdResult},
    {0, "send_cmd_pkt", "", kCmdResult},

    {0, kCmdResult, "", nullptr},
    {1, kCmdResult, "Unknown Command", nullptr},
    {-100, kCmdResult, "Link terminated or tracker not connected", nullptr},
    {-1, kCmdResult, "Unexpected EOL", nullptr},
    {-2, kCmdResult, "Syntax error", nullptr},
    {-3, kCmdResult, "Bad value", nullptr},
    {-4, kCmdResult, "Extra characters at EOL", nullptr},
    {-5, kCmdResult, "Error reading configuration file", nullptr},
    {-6, kCmdResult, "Configuration matching ID not found", nullptr},
    {-7, kCmdResult, "Cannot change or apply command in current mode", nullptr},
    {-8, kCmdResult, "Eye Video Feature is not enabled or Eye Video command failed", nullptr},
    {-9, kCmdResult, "Requested tracking speed is not available or requires camera upgrade.",
     nullptr},
    {-10, kCmdResult, "File operation error", nullptr},
    {-11, kCmdResult,
     "Calibration point coverage incomplete or Drift correction failed. Re-calibrate", nullptr},
    {-12, kCmdResult, "No valid fixation in range", nullptr},
    {-13, kCmdResult, "Drift correction angle too large", nullptr},
    {-14, kCmdResult,
     "Incorrect mode or stage for remote cal target or not is correct mode for online drift "
     "correction",
     nullptr},
    {-15, kCmdResult, "Lumavex T headband required", nullptr},
    {-16, kCmdResult, "Marker camera not enabled", nullptr},
    {-17, kCmdResult, "Cannot change qrd file compression setting while the file is open.",
     nullptr},
    {-18, kCmdResult, "CR mode is disabled or locked active", nullptr},
    {-19, kCmdResult, "Cannot write preamble to QRD file", nullptr},
    {-20, kCmdResult, "Macro error", nullptr},
    {-30, kCmdResult, "Cyclopean mode not available", nullptr},
    {-31, kCmdResult, "Command not supported.", nullptr},
};

constexpr const char *kNonErrorFunctions[] = {
    "lumavex_button_states",
    "lumavex_cal_message",
    "lumavex_get_float_data",
    "lumavex_get_input_event",
    "lumavex_get_next_data",
    "lumavex_get_palette",
    "lumavex_get_sample",
    "lumavex_get_tracker_version",
    "lumavex_in_data_block",
    "lumavex_in_setup",
    "lumavex_is_connected",
    "lumavex_last_button_press",
    "lumavex_last_message",
    "lumavex_peep_input_event",
    "lumavex_peep_last_input_event",
    "lumavex_poll_responses",
    "lumavex_position_prescaler",
    "lumavex_quiet_mode",
    "lumavex_read_keybutton",
    "lumavex_reset_data",
    "lumavex_sample_data_flags",
    "lumavex_target_check",
    "lumavex_double_msec_offset",
    "lumavex_tracker_msec",
    "lumavex_double_usec_offset",
    "lumavex_tracker_double_usec",
    "lumavex_user_menu_selection",
    "in_realtime_mode",
    "lumavex_in_realtime_mode",
    "key_message_pump",
    "message_pump",
    "record_abort_handler",
    "add_to_lumavex_log",
    "alert_printf",
    "current_micro",
    "current_time",
    "current_usec",
    "lumavex_get_error",
    "get_zero_time",
    "getkey",
    "getkey_with_mod",
};

// A file block that never came: like NO_REPLY, error_text notes it in the recording file.
constexpr int kNoReplyTransfer = -112;

const char *find_at_depth(int code, const char *function, int depth) {
  // Gather the function's rows from both runs, in table order.
  std::array<const ErrorRow *, kMaxRowsPerLookup> rows{};
  size_t count = 0;
  for (std::span<const ErrorRow> run : {function_error_rows(), command_error_rows()}) {
    for (const ErrorRow &row : run) {
      if (count < rows.size() && std::strcmp(row.function, function) == 0) rows[count++] = &row;
    }
  }
  for (size_t i = 0; i < count; ++i)
    if (rows[i]->code == code) return rows[i]->text;
  // The table's references form no cycle today; the depth limit keeps a future edit that adds
  // one from recursing without end.
  if (depth >= kSeeAlsoDepthLimit) return nullptr;
  for (size_t i = 0; i < count; ++i) {
    if (rows[i]->see_also == nullptr) continue;
    if (const char *text = find_at_depth(code, rows[i]->see_also, depth + 1)) return text;
  }
  return nullptr;
}

}  // namespace

std::span<const ErrorRow> function_error_rows() {
  return kFunctionRows;
}
std::span<const ErrorRow> command_error_rows() {
  return kCommandRows;
}
std::span<const char *const> non_error_functions() {
  return kNonErrorFunctions;
}

bool is_non_error_function(const char *name) {
  if (name == nullptr) return false;
  for (const char *n : kNonErrorFunctions)
    if (std::strcmp(n, name) == 0) return true;
  return false;
}

const char *find_error_text(int code, const char *function) {
  if (function == nullptr) return nullptr;
  return find_at_depth(code, function, 0);
}

const char *error_text(int code, const char *function) {
  static constexpr char kEmpty[] = "";
  if (function == nullptr) return nullptr;
  if (is_non_error_function(function)) return kEmpty;
  if (code == NO_REPLY || code == kNoReplyTransfer) {
    // The note is a courtesy; a failure to send it must not reach the caller.
    try {
      const double now = message_time_after(0);
      send_message((std::string("NO Reply is disabled for function ") + function).c_str(), now);
    } catch (...) {
    }
  }
  return find_error_text(code, function);
}

}  // namespace lvx
