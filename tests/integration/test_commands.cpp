// The command channel against the simulated tracker: results, time-outs, late results, the rules
// that skip or refuse a command, the waited commands, eyecmd_printf and the error texts.
#include <chrono>
#include <string>

#include "common/wire_reader.h"
#include "control/commands.h"
#include "library/lifecycle.h"
#include "sim_fixture.h"

namespace {

using simtest::wait_until;

lvxsim::CommandRule rule(int16_t result, int delay_ms = 0, bool reply = true) {
  return {result, delay_ms, reply, {}};
}

class Commands : public simtest::TransportTest {};

TEST_P(Commands, ResultRingBeforeAndAfterTheFirstCommand) {
  EXPECT_EQ(lumavex_command_result(), LINK_TERMINATED_RESULT);  // system not open
  start_tracker(at(20, 210));  // over TCP, opening the system connects to it
  ASSERT_EQ(open_lumavex_system(0, nullptr), -1);
  EXPECT_EQ(lumavex_command_result(), -1);  // the seeded slot
  EXPECT_EQ(lumavex_wait_for_command_result(20), -1);
}

TEST_P(Commands, ResultsCodesAndTexts) {
  connect_to_tracker(at(21, 211));
  sim().set_command_rule("calibration_type", {-3, 0, true, "bad calibration type"});
  EXPECT_EQ(lumavex_timed_command(2000, "calibration_type = HX"), -3);
  char text[200] = {};
  EXPECT_EQ(lumavex_last_message(text), 20);
  EXPECT_STREQ(text, "bad calibration type");

  EXPECT_EQ(lumavex_timed_command(2000, "no_such_command 1"), 1);  // "Unknown Command"

  // A whole-text rule wins over the command's name.
  sim().set_command_rule("draw_cross", rule(-7));
  sim().set_command_rule("DRAW_CROSS 10 10 15", rule(-20));
  EXPECT_EQ(lumavex_timed_command(2000, "draw_cross 10 10 15"), -20);
  EXPECT_EQ(lumavex_timed_command(2000, "draw_cross 1 1 15"), -7);
}

TEST_P(Commands, SendWithoutWaitingThenReadTheResult) {
  connect_to_tracker(at(22, 212));
  sim().set_command_rule("echo", rule(-2, 100));
  EXPECT_EQ(lumavex_send_command("echo hello"), 0);
  EXPECT_EQ(lumavex_command_result(), NO_REPLY);
  EXPECT_EQ(lumavex_wait_for_command_result(3000), -2);
  EXPECT_EQ(lumavex_command_result(), -2);
  // On this tracker a sample rate is a plain command too (fourth-generation ones wait for it).
  sim().set_command_rule("sample_rate", rule(0, 2000));
  EXPECT_EQ(lumavex_send_command("sample_rate 2000"), 0);
  EXPECT_EQ(lumavex_command_result(), NO_REPLY);
}

TEST_P(Commands, TimeOutThenLateResult) {
  connect_to_tracker(at(23, 213));
  sim().set_command_rule("record_status_message", rule(0, 0, false));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(lumavex_timed_command(100, "record_status_message 'silent'"), NO_REPLY);
  EXPECT_GE(simtest::ms_since(start), 100);
  EXPECT_EQ(lumavex_get_error(NO_REPLY, "lumavex_timed_command"), std::string(""));
  // Asking about 1000 leaves a note in the recording file.
  ASSERT_TRUE(sim().wait_for_messages(1, 2000));
  EXPECT_EQ(sim().recorded_messages()[0].text,
            "NO Reply is disabled for function lumavex_timed_command");

  // A result that arrives after its wait ran out is still filed for its serial.
  sim().set_command_rule("echo", rule(-4, 150));
  EXPECT_EQ(lumavex_timed_command(10, "echo late"), NO_REPLY);
  EXPECT_EQ(lumavex_wait_for_command_result(3000), -4);
}

TEST_P(Commands, ResultsFarBehindTheNewestSerialAreDropped) {
  connect_to_tracker(at(24, 214));
  sim().set_command_rule("echo", rule(0, 0, false));
  ASSERT_EQ(lumavex_send_command("echo first"), 0);
  auto first =
      sim().wait_for([](const auto &p) { return simtest::is_command(p, "echo first"); }, 2000);
  ASSERT_TRUE(first);
  uint32_t serial = lvx::WireReader(first->bytes).u32_at(4);
  for (int i = 0; i < 81; ++i) ASSERT_EQ(lumavex_send_command("echo more"), 0);
  ASSERT_TRUE(sim().wait_for_commands(82, 3000));
  // 80 behind the newest: still filed. 81 behind: dropped.
  sim().send_to_client(lvxsim::build::status_packet(serial + 1, 22, 5, 0, ""));
  sim().send_to_client(lvxsim::build::status_packet(serial, 22, 6, 0, ""));
  ASSERT_TRUE(wait_until([&] { return lvx::get_command_result_for_sn(serial + 1) == -5; }));
  EXPECT_EQ(lumavex_send_command("echo after"), 0);  // a later packet: both have been handled
  ASSERT_TRUE(sim().wait_for_commands(83, 2000));
  EXPECT_EQ(lvx::get_command_result_for_sn(serial), NO_REPLY);
}

TEST_P(Commands, SkippedAndRefusedCommands) {
  connect_to_tracker(at(25, 215), "LUMAVEX RX 4.56");  // 248-byte texts
  sim().set_mode(1, 0);                                // the tracker is idle
  EXPECT_EQ(lumavex_timed_command(2000, "echo idle"), 0);
  ASSERT_EQ(lumavex_tracker_mode(), 1);
  EXPECT_EQ(lumavex_send_command("set_idle_mode"), 0);
  EXPECT_EQ(lumavex_send_command("SET_IDLE_MODE"), 0);
  EXPECT_EQ(lumavex_timed_command(2000, "set_idle_mode "), 0);  // not the whole text: sent
  EXPECT_EQ(sim().command_log(), (std::vector<std::string>{"echo idle", "set_idle_mode "}));

  EXPECT_EQ(lumavex_send_command(std::string(247, 'e').c_str()), 0);
  EXPECT_EQ(lumavex_timed_command(100, std::string(248, 'e').c_str()), -3);
  EXPECT_EQ(eyecmd_printf("%s", std::string(300, 'e').c_str()), -3);

  ASSERT_EQ(lumavex_close(0), 0);
  EXPECT_EQ(lumavex_timed_command(100, "echo closed"), LINK_TERMINATED_RESULT);
  EXPECT_EQ(lumavex_send_command("echo closed"), LINK_TERMINATED_RESULT);
  ASSERT_TRUE(sim().wait_for_commands(3, 2000));
  EXPECT_EQ(sim().command_log().size(), 3u);
}

TEST_P(Commands, EyeVideoOnWaitsForItsResult) {
  connect_to_tracker(at(27, 217));
  sim().set_command_rule("enable_eye_video_stream", rule(-8, 200));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(lumavex_send_command("enable_eye_video_stream = yes"), -8);
  EXPECT_GE(simtest::ms_since(start), 200);

  sim().set_command_rule("enable_eye_video_stream", rule(0, 200));
  EXPECT_EQ(lumavex_send_command("enable_eye_video_stream 1"), 0);
  EXPECT_EQ(lumavex_command_result(), 0);  // returned only once the result was in

  sim().set_command_rule("enable_eye_video_stream", rule(-8, 2000));
  EXPECT_EQ(lumavex_send_command("enable_eye_video_stream = no"), 0);
  EXPECT_EQ(lumavex_command_result(), NO_REPLY);  // switching it off does not wait
}

TEST_P(Commands, SampleRateWaitsOnlyOnFourthGenerationTrackers) {
  connect_to_tracker(at(28, 218), "LUMAVEX T 6.30");
  sim().set_command_rule("sample_rate", rule(-9, 200));
  EXPECT_EQ(lumavex_send_command("sample_rate 2000"), -9);
  EXPECT_EQ(lumavex_command_result(), -9);
  sim().set_command_rule("sample_rate", rule(0, 150));
  EXPECT_EQ(lumavex_timed_command(10, "sample_rate 1000"), 0);  // the waited result is final
}

TEST_P(Commands, EyecmdPrintfSplitsOnlyForSmallPacketTrackers) {
  connect_to_tracker(at(120, 220), "LUMAVEX RX 4.56");
  sim().set_command_rule("b", rule(-2));
  EXPECT_EQ(eyecmd_printf("a\n%s", "b"), -2);  // the last piece's result
  EXPECT_EQ(eyecmd_printf("x 'a\nb'"), 1);     // a quoted part: one command
  EXPECT_EQ(eyecmd_printf("a\n\nb\n"), -2);
  EXPECT_EQ(sim().command_log(), (std::vector<std::string>{"a", "b", "x 'a\nb'", "a", "b"}));
}

TEST_P(Commands, LargePacketTrackersTakeLongerTextsAndUnsplitFormattedCommands) {
  connect_to_tracker(at(121, 221));
  EXPECT_EQ(eyecmd_printf("clear_screen %d\ndraw_cross %d %d", 0, 512, 384), 0);
  EXPECT_EQ(sim().command_log(), std::vector<std::string>{"clear_screen 0\ndraw_cross 512 384"});
  EXPECT_EQ(lumavex_timed_command(2000, std::string(991, 'e').c_str()), 1);  // sent, unknown
  EXPECT_EQ(lumavex_timed_command(100, std::string(992, 'e').c_str()), -3);
  // Formatted output longer than the tracker takes is refused unsent.
  EXPECT_EQ(eyecmd_printf("%s", std::string(1500, 'e').c_str()), -3);
}

INSTANTIATE_TEST_SUITE_P(Transports, Commands, simtest::kBothTransports, simtest::transport_name);

}  // namespace
