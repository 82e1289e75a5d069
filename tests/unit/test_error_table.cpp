// The error text table and the lookup behind lumavex_get_error.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "control/error_table.h"
#include "lumavex_core.h"

namespace {

using lvx::find_error_text;

// Compares texts by content, so a missing text (nullptr) reads as a failure rather than a crash.
std::string text_or_null(const char *text) {
  return text ? text : "<null>";
}

bool has_rows(const std::string &function) {
  for (auto run : {lvx::function_error_rows(), lvx::command_error_rows()})
    for (const lvx::ErrorRow &row : run)
      if (function == row.function) return true;
  return false;
}

TEST(ErrorTable, RunsHaveTheirSizesAndCommandCodesAreUnique) {
  EXPECT_EQ(lvx::function_error_rows().size(), 164u);
  EXPECT_EQ(lvx::command_error_rows().size(), 30u);
  EXPECT_EQ(lvx::non_error_functions().size(), 41u);

  // Every row names its function and has a text; only the see-also may be missing.
  for (auto run : {lvx::function_error_rows(), lvx::command_error_rows()}) {
    for (const lvx::ErrorRow &row : run) {
      ASSERT_NE(row.function, nullptr);
      ASSERT_NE(row.text, nullptr) << row.function << " " << row.code;
    }
  }
  // A repeated code in the command results would hide the later text for good.
  std::set<int> codes;
  for (const lvx::ErrorRow &row : lvx::command_error_rows()) {
    if (std::strcmp(row.function, "lumavex_command_result") != 0) continue;
    EXPECT_TRUE(codes.insert(row.code).second) << row.code;
  }
  EXPECT_EQ(codes.size(), 25u);
}

TEST(ErrorTable, DocumentedLookups) {
  EXPECT_EQ(text_or_null(lumavex_get_error(-3, "lumavex_timed_command")), "Bad value");
  EXPECT_EQ(text_or_null(lumavex_get_error(5, "getkey")), "");
  EXPECT_EQ(lumavex_get_error(-3, "no_such_function"), nullptr);
  EXPECT_EQ(lumavex_get_error(-3, nullptr), nullptr);
  EXPECT_EQ(lumavex_get_error(12345, "create_path"), nullptr);  // known function, unknown code
}

TEST(ErrorTable, NamesMatchExactly) {
  EXPECT_EQ(lumavex_get_error(5, "Getkey"), nullptr);
  EXPECT_EQ(lumavex_get_error(5, "getkey "), nullptr);
  EXPECT_EQ(lumavex_get_error(-3, "LUMAVEX_TIMED_COMMAND"), nullptr);
  EXPECT_EQ(lumavex_get_error(-3, "lumavex_timed"), nullptr);
  EXPECT_EQ(lumavex_get_error(0, ""), nullptr);
}

TEST(ErrorTable, OwnRowsDecideBeforeAnySeeAlso) {
  // do_drift_correct's second row refers to lumavex_cal_result, whose 27 is "Abort"; the
  // function's own later row for 27 must win.
  EXPECT_EQ(text_or_null(find_error_text(27, "do_drift_correct")), "Escape key pressed");
  EXPECT_EQ(text_or_null(find_error_text(-2, "do_drift_correct")), "Tracker not connected");
  // Own texts that differ from what the see-also would give.
  EXPECT_EQ(text_or_null(find_error_text(-1, "start_recording")), "Trial error");
  EXPECT_EQ(text_or_null(find_error_text(3, "start_recording")), "Abort transfer");
  EXPECT_EQ(text_or_null(find_error_text(-100, "lumavex_wait_for_mode_ready")),
            "Tracker not connected");
  EXPECT_EQ(text_or_null(find_error_text(-3, "lumavex_request_file_read")), "Bad Value Result");
  // check_recording has three rows for 0, all empty: the first answers without the see-alsos.
  EXPECT_EQ(text_or_null(find_error_text(0, "check_recording")), "");
  EXPECT_EQ(text_or_null(find_error_text(-1, "check_recording")), "");
}

TEST(ErrorTable, RowsLaterInTheRunAreFound) {
  EXPECT_EQ(text_or_null(find_error_text(1000, "lumavex_read_request")), "");
  EXPECT_EQ(text_or_null(find_error_text(-3, "lumavex_read_request")), "Bad Value Result");
  EXPECT_EQ(text_or_null(find_error_text(-100, "lumavex_node_send_message")), "link terminated");
  EXPECT_EQ(text_or_null(find_error_text(-112, "start_file_receive")), "");
  EXPECT_EQ(text_or_null(find_error_text(0, "start_file_receive")), "Error transfering file");
  // Reached through do_drift_correct's reference to lumavex_cal_result.
  EXPECT_EQ(text_or_null(find_error_text(1000, "do_drift_correct")), "");
  // The function's own row and the command run's row are both collected.
  EXPECT_EQ(text_or_null(find_error_text(1000, "lumavex_timed_command")), "");
  EXPECT_EQ(text_or_null(find_error_text(0, "lumavex_timed_command")), "");
}

TEST(ErrorTable, SeeAlsoChainsFollowSeveralSteps) {
  EXPECT_EQ(text_or_null(find_error_text(-1, "lumavex_newest_double_sample")),
            "Error or No Samples");
  EXPECT_EQ(text_or_null(find_error_text(0, "lumavex_newest_double_sample")), "");
  EXPECT_EQ(text_or_null(find_error_text(1, "lumavex_newest_float_sample")), "");
  EXPECT_EQ(text_or_null(find_error_text(-1, "lumavex_wait_for_new_float_sample")),
            "Error or No Samples");
  // lumavex_open -> lumavex_open_node (whose first see-also, init_sys, has no rows) -> do_connect.
  EXPECT_EQ(text_or_null(find_error_text(-203, "lumavex_open")), "Tracker Bussy");
  EXPECT_EQ(text_or_null(find_error_text(-202, "lumavex_open_node")), "Wrong Link Version");
  // eyemsg_printf -> lumavex_send_message -> msg_core, which has no rows.
  EXPECT_EQ(find_error_text(-1, "eyemsg_printf"), nullptr);
  // close_data_file -> lumavex_timed_command -> lumavex_command_result.
  EXPECT_EQ(text_or_null(find_error_text(-17, "close_data_file")),
            "Cannot change qrd file compression setting while the file is open.");
}

TEST(ErrorTable, EmptyAndNonErrorSeeAlsoNamesFindNothing) {
  // The link send routine refers to the empty name: nothing beyond its own rows.
  EXPECT_EQ(text_or_null(find_error_text(-1, "xlink_send")), "Socket Error");
  EXPECT_EQ(find_error_text(-200, "xlink_send"), nullptr);
  EXPECT_EQ(text_or_null(find_error_text(-1, "lumavex_node_send")), "Parameter Error");
  EXPECT_EQ(text_or_null(find_error_text(-100, "lumavex_node_send")), "Link Terminated");
  EXPECT_EQ(find_error_text(-200, "lumavex_bitmap_packet"), nullptr);
  // A see-also to a function whose results are not errors gives no text, not the empty one.
  EXPECT_EQ(find_error_text(5, "check_recording"), nullptr);
  EXPECT_EQ(find_error_text(5, "check_record_exit"), nullptr);
  EXPECT_EQ(lumavex_get_error(5, "check_recording"), nullptr);
}

TEST(ErrorTable, CommandResultsThroughEveryCommandFunction) {
  const char *const senders[] = {"lumavex_wait_for_command_result", "eyecmd_printf",
                                 "lumavex_send_command", "lumavex_timed_command", "send_cmd_pkt"};
  for (const char *sender : senders) {
    for (const lvx::ErrorRow &row : lvx::command_error_rows()) {
      if (std::strcmp(row.function, "lumavex_command_result") != 0) continue;
      EXPECT_EQ(find_error_text(row.code, sender), row.text) << sender << " " << row.code;
    }
    EXPECT_EQ(find_error_text(-21, sender), nullptr) << sender;
  }
  EXPECT_EQ(text_or_null(lumavex_get_error(-31, "eyecmd_printf")), "Command not supported.");
  EXPECT_EQ(text_or_null(lumavex_get_error(1, "lumavex_send_command")), "Unknown Command");
  // Functions that refer to lumavex_send_command reach the command results in two steps.
  EXPECT_EQ(text_or_null(find_error_text(-7, "lumavex_start_setup")),
            "Cannot change or apply command in current mode");
  EXPECT_EQ(text_or_null(find_error_text(-100, "lumavex_playback_start")),
            "Not connected to tracker");
  EXPECT_EQ(text_or_null(find_error_text(-2, "lumavex_request_time")), "Syntax error");
}

TEST(ErrorTable, NonErrorFunctionsAnswerTheEmptyText) {
  for (const char *name : lvx::non_error_functions()) {
    EXPECT_TRUE(lvx::is_non_error_function(name)) << name;
    for (int code : {0, -1, 5, -100, 1000, -112})
      EXPECT_EQ(text_or_null(lumavex_get_error(code, name)), "") << name << " " << code;
  }
  EXPECT_FALSE(lvx::is_non_error_function("lumavex_timed_command"));
  EXPECT_FALSE(lvx::is_non_error_function("getkey_"));
  EXPECT_FALSE(lvx::is_non_error_function(nullptr));
}

TEST(ErrorTable, NoReplyCodesStillFindTheirText) {
  // These codes also leave a note in the recording file; the lookup must carry on after it.
  EXPECT_EQ(text_or_null(lumavex_get_error(1000, "lumavex_read_reply")), "");
  EXPECT_EQ(text_or_null(lumavex_get_error(-112, "receive_file_block")), "");
  EXPECT_EQ(lumavex_get_error(1000, "lumavex_send_command"), nullptr);
}

// Walks the references from `function`, returning the longest chain of steps that lead to
// functions with rows; -1 when a chain comes back to a function already on it.
int chain_length(const std::string &function, std::set<std::string> &on_path) {
  if (!on_path.insert(function).second) return -1;
  int longest = 0;
  for (auto run : {lvx::function_error_rows(), lvx::command_error_rows()}) {
    for (const lvx::ErrorRow &row : run) {
      if (function != row.function || row.see_also == nullptr || !has_rows(row.see_also)) continue;
      int below = chain_length(row.see_also, on_path);
      if (below < 0) return -1;
      longest = std::max(longest, below + 1);
    }
  }
  on_path.erase(function);
  return longest;
}

TEST(ErrorTable, EverySeeAlsoResolvesWithinTheDepthLimit) {
  std::map<std::string, std::string> references;  // referring function -> a function with rows
  for (auto run : {lvx::function_error_rows(), lvx::command_error_rows()})
    for (const lvx::ErrorRow &row : run)
      if (row.see_also != nullptr && has_rows(row.see_also))
        references.emplace(std::string(row.function) + ">" + row.see_also, row.function);
  ASSERT_FALSE(references.empty());

  for (const auto &[key, referrer] : references) {
    std::set<std::string> on_path;
    int length = chain_length(referrer, on_path);
    ASSERT_GE(length, 1) << referrer << " takes part in a reference cycle";
    EXPECT_LT(length, lvx::kSeeAlsoDepthLimit) << referrer;

    // Whatever the referenced function can name, the referring one can name too.
    std::string target = key.substr(key.find('>') + 1);
    for (auto run : {lvx::function_error_rows(), lvx::command_error_rows()}) {
      for (const lvx::ErrorRow &row : run) {
        if (target != row.function) continue;
        EXPECT_NE(find_error_text(row.code, referrer.c_str()), nullptr)
            << referrer << " -> " << target << " code " << row.code;
      }
    }
  }
}

}  // namespace
