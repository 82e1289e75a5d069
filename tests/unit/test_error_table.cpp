// The error text table and the lookup behind lumavex_get_error.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>

#include "control/error_table.h"
#include "lumavex_core.h"

namespace {

using lvx::find_error_text;

const char *const kNone = "<null>";

std::string text_or_null(const char *text) {
  return text ? text : kNone;
}

bool has_rows(const std::string &function) {
  for (auto run : {lvx::function_error_rows(), lvx::command_error_rows()})
    for (const lvx::ErrorRow &row : run)
      if (function == row.function) return true;
  return false;
}

TEST(ErrorTable, Lookups) {
  // A repeated code in the command results would hide the later text for good.
  std::set<int> codes;
  for (const lvx::ErrorRow &row : lvx::command_error_rows()) {
    if (std::strcmp(row.function, "lumavex_command_result") == 0) {
      EXPECT_TRUE(codes.insert(row.code).second) << row.code;
    }
  }
  EXPECT_EQ(codes.size(), 25u);

  const struct {
    int code;
    const char *function, *text;
  } cases[] = {
      {-3, "lumavex_timed_command", "Bad value"},
      {5, "getkey", ""},
      {-3, "no_such_function", kNone},
      {12345, "create_path", kNone},  // known function, unknown code
      {5, "Getkey", kNone},           // names match exactly
      {5, "getkey ", kNone},
      {-3, "lumavex_timed", kNone},
      {0, "", kNone},
      // The function's own rows decide before any see-also: do_drift_correct refers to
      // lumavex_cal_result, whose 27 is "Abort".
      {27, "do_drift_correct", "Escape key pressed"},
      {-1, "start_recording", "Trial error"},
      {0, "check_recording", ""},
      // Rows later in the run, and rows reached through a see-also.
      {-3, "lumavex_read_request", "Bad Value Result"},
      {0, "start_file_receive", "Error transfering file"},
      {1000, "do_drift_correct", ""},
      // Chains of several steps: lumavex_open -> lumavex_open_node (whose first see-also has no
      // rows) -> do_connect; close_data_file -> lumavex_timed_command -> the command results.
      {-1, "lumavex_newest_double_sample", "Error or No Samples"},
      {-203, "lumavex_open", "Tracker Bussy"},
      {-17, "close_data_file",
       "Cannot change qrd file compression setting while the file is open."},
      {-7, "lumavex_start_setup", "Cannot change or apply command in current mode"},
      {-1, "eyemsg_printf", kNone},  // ends at a function without rows
      // An empty see-also, or one to a function whose results are not errors, finds nothing.
      {-1, "xlink_send", "Socket Error"},
      {-200, "xlink_send", kNone},
      {5, "check_recording", kNone},
      // Codes that leave a note in the recording file still find their text.
      {1000, "lumavex_read_reply", ""},
      {-112, "receive_file_block", ""},
      {1000, "lumavex_send_command", kNone},
  };
  for (const auto &c : cases)
    EXPECT_EQ(text_or_null(lumavex_get_error(c.code, c.function)), c.text)
        << c.function << " " << c.code;
  EXPECT_EQ(lumavex_get_error(-3, nullptr), nullptr);
  EXPECT_EQ(text_or_null(lumavex_get_error(-31, "eyecmd_printf")), "Command not supported.");

  // Every command function names every command result.
  for (const char *sender : {"lumavex_wait_for_command_result", "eyecmd_printf",
                             "lumavex_send_command", "lumavex_timed_command", "send_cmd_pkt"}) {
    for (const lvx::ErrorRow &row : lvx::command_error_rows()) {
      if (std::strcmp(row.function, "lumavex_command_result") == 0) {
        EXPECT_EQ(find_error_text(row.code, sender), row.text) << sender << " " << row.code;
      }
    }
    EXPECT_EQ(find_error_text(-21, sender), nullptr) << sender;
  }
  for (const char *name : lvx::non_error_functions())
    for (int code : {0, -1, 1000})
      EXPECT_EQ(text_or_null(lumavex_get_error(code, name)), "") << name << " " << code;
  EXPECT_FALSE(lvx::is_non_error_function("getkey_"));
  EXPECT_FALSE(lvx::is_non_error_function(nullptr));
}

// Walks the references from `function`: the longest chain of steps that lead to functions with
// rows; -1 when a chain comes back to a function already on it.
int chain_length(const std::string &function, std::set<std::string> &on_path) {
  if (!on_path.insert(function).second) return -1;
  int longest = 0;
  for (auto run : {lvx::function_error_rows(), lvx::command_error_rows()}) {
    for (const lvx::ErrorRow &row : run) {
      if (function != row.function || row.see_also == nullptr || !has_rows(row.see_also)) continue;
      const int below = chain_length(row.see_also, on_path);
      if (below < 0) return -1;
      longest = std::max(longest, below + 1);
    }
  }
  on_path.erase(function);
  return longest;
}

TEST(ErrorTable, EverySeeAlsoResolvesWithinTheDepthLimit) {
  for (auto run : {lvx::function_error_rows(), lvx::command_error_rows()}) {
    for (const lvx::ErrorRow &ref : run) {
      if (ref.see_also == nullptr || !has_rows(ref.see_also)) continue;
      std::set<std::string> on_path;
      const int length = chain_length(ref.function, on_path);
      ASSERT_GE(length, 1) << ref.function << " takes part in a reference cycle";
      EXPECT_LT(length, lvx::kSeeAlsoDepthLimit) << ref.function;
      // Whatever the referenced function can name, the referring one can name too.
      for (auto target_run : {lvx::function_error_rows(), lvx::command_error_rows()}) {
        for (const lvx::ErrorRow &row : target_run) {
          if (std::strcmp(row.function, ref.see_also) != 0) continue;
          EXPECT_NE(find_error_text(row.code, ref.function), nullptr)
              << ref.function << " -> " << ref.see_also << " code " << row.code;
        }
      }
    }
  }
}

}  // namespace
