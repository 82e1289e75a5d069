// The tracker's mode machine on an injected clock: the state flag's rise and fall (including the
// settle times the library's tests never use), the recording digits and a recording started
// over. (The pacing of playback is checked over the wire in test_tracker_control.cpp.)
#include "sim/mode_machine.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

using lvxsim::CommandAction;
using lvxsim::ModeMachine;

TEST(ModeMachine, FlagRisesAndFallsAfterTheSettleTime) {
  ModeMachine m(20000);
  EXPECT_EQ(m.state_flag(), 0);
  EXPECT_FALSE(m.settle_due_us());
  m.on_command("setup_menu_mode", 1000000);
  EXPECT_EQ(m.state_flag(), 1);
  EXPECT_EQ(m.settle_due_us(), 1020000);
  EXPECT_FALSE(m.settle(1019999));
  EXPECT_TRUE(m.settle(1020000));
  EXPECT_EQ(m.state_flag(), 0);
  EXPECT_FALSE(m.settle(1030000));  // falls once only
  // A second change while settling pushes the fall out.
  m.on_command("set_imaging_mode", 2000000);
  m.on_command("setup_menu_mode", 2015000);
  EXPECT_FALSE(m.settle(2020000));
  EXPECT_TRUE(m.settle(2035000));
  // Re-entering the current mode starts it afresh: the flag rises again.
  EXPECT_FALSE(m.enter(lvxsim::kModeSetupMenu, 3000000));
  EXPECT_EQ(m.state_flag(), 1);

  ModeMachine at_once(0);
  at_once.on_command("setup_menu_mode", 500);
  EXPECT_EQ(at_once.state_flag(), 1);  // still raised for the packet that shows the change
  EXPECT_TRUE(at_once.settle(500));
  ModeMachine never(-1);
  never.on_command("setup_menu_mode", 500);
  EXPECT_EQ(never.mode(), lvxsim::kModeSetupMenu);
  EXPECT_EQ(never.state_flag(), 0);
  EXPECT_FALSE(never.settle_due_us());
}

TEST(ModeMachine, RecordingDigitsAndRestart) {
  using F = lvxsim::RecordingFlags;
  // Too few digits, another character among them, or no '=': everything is recorded.
  const std::pair<const char *, F> cases[] = {
      {"start_recording break data =  1,0,0,1, ", F{1, 0, 0, 1}},
      {"start_recording break data =  0,0,1,0, ", F{0, 0, 1, 0}},
      {"start_recording break data = 0,0", F{1, 1, 1, 1}},
      {"start_recording data = 0,x,0,0", F{1, 1, 1, 1}},
      {"start_recording", F{1, 1, 1, 1}}};
  for (const auto &[text, want] : cases) {
    EXPECT_EQ(lvxsim::parse_recording_flags(text), want) << text;
  }
  // Recording again ends the first recording and starts another.
  ModeMachine m(0);
  EXPECT_FALSE(m.on_command(cases[0].first, 0).data_stopped);
  auto again = m.on_command("start_recording", 10);
  EXPECT_TRUE(again.data_stopped);
  EXPECT_EQ(again.action, CommandAction::kStartRecording);
  EXPECT_TRUE(m.recording());
}

}  // namespace
