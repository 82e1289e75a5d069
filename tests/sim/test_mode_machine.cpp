// The tracker's mode machine without sockets: the state flag's
// rise and fall on an injected clock, the settings commands carry, the recording digits and the
// pacing of playback.
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
  ASSERT_TRUE(m.settle_due_us());
  EXPECT_EQ(*m.settle_due_us(), 1020000);
  EXPECT_FALSE(m.settle(1019999));
  EXPECT_EQ(m.state_flag(), 1);
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
}

TEST(ModeMachine, NoSettleAndNeverSettle) {
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

TEST(ModeMachine, RecordingAndPlaybackEndOnLeaving) {
  ModeMachine m(0);
  auto start = m.on_command("start_recording break data =  1,0,1,0, ", 0);
  EXPECT_EQ(start.action, CommandAction::kStartRecording);
  EXPECT_FALSE(start.data_stopped);
  EXPECT_TRUE(m.recording());
  // Recording again ends the first one.
  auto again = m.on_command("start_recording break data =  1,1,1,1, ", 10);
  EXPECT_TRUE(again.data_stopped);
  EXPECT_EQ(again.action, CommandAction::kStartRecording);
  // Any mode command ends it.
  auto setup = m.on_command("setup_menu_mode", 20);
  EXPECT_TRUE(setup.data_stopped);
  EXPECT_EQ(setup.action, CommandAction::kStopData);
  EXPECT_FALSE(m.recording());
  auto play = m.on_command("start_playback", 30);
  EXPECT_EQ(play.action, CommandAction::kStartPlayback);
  EXPECT_EQ(m.byte18(), lvxsim::kPlayingBackBit);
  auto abort = m.on_command("abort_playback", 40);
  EXPECT_TRUE(abort.data_stopped);
  EXPECT_EQ(m.byte18(), 0);
  EXPECT_EQ(m.mode(), lvxsim::kModeIdle);
}

TEST(ModeMachine, RecordingDigits) {
  using lvxsim::parse_recording_flags;
  using F = lvxsim::RecordingFlags;
  // Too few digits, another character among them, or no '=': everything is recorded.
  const std::pair<const char *, F> cases[] = {
      {"start_recording break data =  1,0,0,1, ", F{1, 0, 0, 1}},
      {"start_recording break data =  0,0,1,0, ", F{0, 0, 1, 0}},
      {"start_recording break data = 0,0", F{1, 1, 1, 1}},
      {"start_recording data = 0,x,0,0", F{1, 1, 1, 1}},
      {"start_recording", F{1, 1, 1, 1}}};
  for (const auto &[text, want] : cases) EXPECT_EQ(parse_recording_flags(text), want) << text;
}

TEST(ModeMachine, SettingsFromCommands) {
  ModeMachine m;
  m.on_command("drift_correction_targets = 512.500 384.250", 0);
  EXPECT_FLOAT_EQ(m.drift_target_x(), 512.5f);
  EXPECT_FLOAT_EQ(m.drift_target_y(), 384.25f);
  m.on_command("drift_correction_targets = 7", 0);  // one number: ignored
  EXPECT_FLOAT_EQ(m.drift_target_x(), 512.5f);
  m.on_command("lock_record_exit = YES", 0);
  EXPECT_TRUE(m.record_exit_locked());
  m.on_command("lock_record_exit = NO", 0);
  EXPECT_FALSE(m.record_exit_locked());
  EXPECT_EQ(m.link_interval_ms(), 0);
  m.on_command("link_update_interval = 50", 0);
  EXPECT_EQ(m.link_interval_ms(), 50);
  m.on_command("link_update_interval = -5", 0);
  EXPECT_EQ(m.link_interval_ms(), 50);
  // Accepting a fixation means something only while a target is shown; drift correction ends.
  EXPECT_EQ(m.on_command("accept_target_fixation", 0).action, CommandAction::kNone);
  m.on_command("start_drift_correction data=0,0,0,0", 0);
  auto accept = m.on_command("accept_target_fixation", 0);
  EXPECT_EQ(accept.action, CommandAction::kAcceptFixation);
  EXPECT_EQ(m.mode(), lvxsim::kModeIdle);
  EXPECT_EQ(m.on_command("link_sync_status", 0).action, CommandAction::kSyncStatus);
}

TEST(PlaybackPacer, ReleasesChunksPerRequest) {
  std::vector<std::vector<uint8_t>> packets;
  for (uint8_t i = 0; i < 10; ++i) packets.push_back({i});
  lvxsim::PlaybackPacer pacer(std::move(packets), 4);
  EXPECT_EQ(pacer.remaining(), 10u);
  auto a = pacer.on_request();
  ASSERT_EQ(a.size(), 4u);
  EXPECT_EQ(a[0][0], 0);
  EXPECT_EQ(a[3][0], 3);
  auto b = pacer.on_request();
  ASSERT_EQ(b.size(), 4u);
  EXPECT_EQ(b[0][0], 4);
  EXPECT_FALSE(pacer.done());
  auto c = pacer.on_request();
  ASSERT_EQ(c.size(), 2u);
  EXPECT_EQ(c[1][0], 9);
  EXPECT_TRUE(pacer.done());
  EXPECT_TRUE(pacer.on_request().empty());
  EXPECT_EQ(pacer.requests(), 4u);
  // A chunk size below 1 means one packet per request.
  lvxsim::PlaybackPacer one({{1}, {2}}, 0);
  EXPECT_EQ(one.on_request().size(), 1u);
}

}  // namespace
