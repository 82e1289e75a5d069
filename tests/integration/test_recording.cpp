// Trials against the simulated tracker: the recording file on the tracker holding what was sent,
// every failure step of start_recording, the abort menu with each of its exits, a lost link, and
// real-time mode with the local message file.
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "control/input.h"
#include "control/realtime.h"
#include "platform/realtime.h"
#include "sim/data_file.h"
#include "sim/tracker_control.h"
#include "sim_fixture.h"

namespace {

using simtest::read_file;
using simtest::wait_until;

class Recording : public simtest::SimTest {
 protected:
  void connect(int n, double drop_rate = 0, int settle_ms = 20) {
    lvxsim::Config c;
    c.control.enabled = true;
    c.control.settle_ms = settle_ms;
    c.control.stream.rate_hz = 500;
    c.control.stream.drop_rate = drop_rate;
    start_tracker(n, c);
    ASSERT_EQ(open_lumavex_connection(0), 0);
    ASSERT_TRUE(sim().wait_for_commands(1, 2000));  // "link_update_interval = 50"
  }

  void TearDown() override {
    terminal_break(0);
    if (sim_) sim_->stop_streaming();
    SimTest::TearDown();
  }

  lvxsim::TrackerControl &tracker() { return sim().control(); }

  // Starts a trial, opens the abort menu from the tracker's side and schedules the operator's
  // action; returns what check_recording gave.
  int16_t abort_trial(const std::function<void()> &operator_action) {
    EXPECT_EQ(start_recording(1, 1, 1, 1), 0);
    EXPECT_TRUE(tracker().open_abort_menu());
    EXPECT_TRUE(wait_until([] { return (lumavex_current_mode() & IN_USER_MENU) != 0; }));
    sim().run_later(100, operator_action);
    // Should the menu's loop miss its exit, the link goes after a while, so that the test fails
    // rather than hangs (the tracker drops this when it stops).
    sim().run_later(8000, [this] { sim().drop_connection(); });
    const int16_t result = check_recording();
    EXPECT_TRUE(sim().wait_for_messages(1, 2000));
    bool aborted_message = false;
    for (const lvxsim::RecordedMessage &m : sim().recorded_messages())
      aborted_message = aborted_message || m.text == "TRIAL ABORTED";
    EXPECT_TRUE(aborted_message);
    return result;
  }

  std::atomic<int> leave_after_ms_{-1};  // read on the tracker's thread
};

TEST_F(Recording, WholeTrialLandsInTheTrackersFile) {
  connect(98);
  EXPECT_EQ(open_data_file("results/trial1"), 0);
  ASSERT_TRUE(received_command("open_data_file 'trial1.qrd'"));
  const std::string path = sim().data_dir() + "/trial1.qrd";
  ASSERT_EQ(tracker().open_file_path(), path);

  EXPECT_EQ(eyemsg_printf("before the trial"), 0);
  ASSERT_EQ(start_recording(1, 1, 1, 1), 0);
  EXPECT_GT(lumavex_data_count(1, 0), 0);  // data flows when start_recording returns
  EXPECT_EQ(eyemsg_printf("TRIALID %d", 1), 0);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(check_recording(), 0);
    msec_delay(20);
  }
  EXPECT_EQ(eyemsg_printf("TRIAL_RESULT %d", 0), 0);
  ASSERT_TRUE(sim().wait_for_messages(3, 2000));
  EXPECT_EQ(stop_recording(), 0);
  EXPECT_EQ(close_data_file(), 0);
  EXPECT_FALSE(tracker().open_file_path());
  EXPECT_EQ(tracker().last_file_path(), path);

  std::optional<lvxsim::DataFileContents> file = lvxsim::read_data_file(path);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->header["name"], "trial1.qrd");
  EXPECT_EQ(file->header["tracker"], "LUMAVEX RX 5.7");
  std::vector<std::string> messages;
  std::vector<char> kinds;
  size_t data = 0;
  for (const lvxsim::DataFileRecord &r : file->records) {
    if (r.kind == lvxsim::kRecordMessage) messages.push_back(r.text());
    if (r.kind == lvxsim::kRecordData) {
      ++data;
      ASSERT_FALSE(r.payload.empty());
      EXPECT_EQ(r.payload[0], DATA_PKT);
    } else {
      kinds.push_back(r.kind);
    }
  }
  EXPECT_EQ(messages,
            (std::vector<std::string>{"before the trial", "TRIALID 1", "TRIAL_RESULT 0"}));
  // The message before the trial, the start with its flags, the trial's messages, data, the end.
  EXPECT_EQ(kinds, (std::vector<char>{'M', 'S', 'M', 'M', 'E'}));
  const std::vector<uint8_t> &start = file->records[1].payload;
  ASSERT_EQ(start.size(), 8u);  // its time, then the four flags
  EXPECT_EQ(std::vector<uint8_t>(start.begin() + 4, start.end()),
            (std::vector<uint8_t>{1, 1, 1, 1}));
  EXPECT_GT(data, 10u);  // 100 ms and more at 500 Hz
}

TEST_F(Recording, RefusedNamesSendNothingAndLongNamesAreAnnounced) {
  connect(99);
  const size_t before = sim().command_log().size();
  for (const char *bad : {"", "_abc", "test.txt", "ab.cd.qrd", "abcdefghi"}) {
    EXPECT_EQ(open_data_file(bad), -1) << bad;
  }
  EXPECT_EQ(sim().command_log().size(), before);

  EXPECT_EQ(lumavex_set_options("longname=1"), 1);
  EXPECT_EQ(open_data_file("a_long_recording_name"), 0);
  std::vector<std::string> log = sim().command_log();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 1], "open_data_file 'a_long_recording_name.qrd'");
  EXPECT_TRUE(received_command("long_filename_enabled = YES"));
  EXPECT_EQ(tracker().open_file_path(), sim().data_dir() + "/a_long_recording_name.qrd");
  EXPECT_EQ(lumavex_set_options("longname"), -1);

  // A name the tracker itself refuses comes back with its result.
  sim().set_command_rule("open_data_file", lvxsim::CommandRule{-10, 0, true, ""});
  EXPECT_EQ(open_data_file("other"), -10);
  EXPECT_EQ(close_data_file(), 0);
  EXPECT_TRUE(std::filesystem::exists(sim().data_dir() + "/a_long_recording_name.qrd"));
}

TEST_F(Recording, NoLinkDataAskedReturnsAtOnceAndARefusedStartFailsAtStepOne) {
  connect(100);
  ASSERT_EQ(start_recording(1, 1, 0, 0), 0);
  EXPECT_EQ(check_recording(), 0);
  EXPECT_EQ(stop_recording(), 0);
  std::optional<lvxsim::RecordingRecord> rec = tracker().last_recording();
  ASSERT_TRUE(rec);
  EXPECT_FALSE(rec->streamed);

  // Step one fails when the tracker refuses: its result comes back.
  sim().set_command_rule("start_recording", lvxsim::CommandRule{-7, 0, true, ""});
  EXPECT_EQ(start_recording(1, 1, 1, 1), -7);
}

TEST_F(Recording, StartFailsAtStepTwoWhenTheModeNeverSettles) {
  connect(102, 0, 2000);
  EXPECT_EQ(start_recording(1, 1, 1, 1), -1);
  EXPECT_EQ(tracker().mode(), lvxsim::kModeRecording);  // not stopped: it may still settle
}

TEST_F(Recording, StartFailsAtStepsThreeToFive) {
  // Every sample packet is lost on the way: no sample ever arrives.
  connect(103, 1.0);
  tracker().set_mode_observer([this](uint8_t, uint8_t to) {
    if (to == lvxsim::kModeRecording && leave_after_ms_ >= 0) {
      sim().run_later(leave_after_ms_, [this] { tracker().enter_mode(lvxsim::kModeIdle); });
    }
  });
  // Step 3: the tracker leaves recording before the first check.
  leave_after_ms_ = 0;
  EXPECT_EQ(start_recording(1, 1, 1, 1), -1);
  // Step 4: it leaves while the library waits for data.
  leave_after_ms_ = 120;
  EXPECT_EQ(start_recording(1, 1, 1, 0), -1);
  // Step 5: recording goes on but no sample comes within 300 ms: the recording is stopped.
  leave_after_ms_ = -1;
  EXPECT_EQ(start_recording(1, 1, 1, 0), -1);
  EXPECT_EQ(tracker().mode(), lvxsim::kModeIdle);
}

TEST_F(Recording, AbortMenuEntriesTwoAndThree) {
  connect(104);
  EXPECT_EQ(abort_trial([this] { tracker().choose_abort_entry(2); }), ABORT_MENU_ENTRY_2);
  EXPECT_EQ(abort_trial([this] { tracker().choose_abort_entry(3); }), ABORT_MENU_ENTRY_3);
  EXPECT_EQ(in_realtime_mode(), 0);
}

TEST_F(Recording, AbortMenuEntryFourAfterSetupAborts) {
  connect(105);
  // Entry 1 takes the tracker into setup (the library waits); the operator leaves setup for idle,
  // the library opens the menu again, and entry 4 aborts.
  std::atomic<int> menus{0};
  tracker().set_mode_observer([this, &menus](uint8_t, uint8_t to) {
    if (to == lvxsim::kModeUserMenuFirst && ++menus == 2) {
      sim().run_later(50, [this] { tracker().choose_abort_entry(4); });
    }
  });
  const int16_t result = abort_trial([this] {
    tracker().choose_abort_entry(1);
    sim().run_later(150, [this] { tracker().enter_mode(lvxsim::kModeIdle); });
  });
  tracker().set_mode_observer({});
  EXPECT_EQ(menus.load(), 2);
  EXPECT_EQ(result, RECORDING_ABORTED);
  EXPECT_TRUE(received_command("display_user_menu 1"));
  EXPECT_EQ(tracker().mode(), lvxsim::kModeIdle);  // the library put the tracker idle
}

TEST_F(Recording, AbortMenuEndsOnTheTerminateKeyAndOnALostLink) {
  connect(106);
  EXPECT_EQ(abort_trial([] { terminal_break(1); }), RECORDING_ABORTED);
  terminal_break(0);
  EXPECT_EQ(abort_trial([this] { sim().drop_connection(); }), RECORDING_ABORTED);
  EXPECT_EQ(lumavex_is_connected(), 0);
}

TEST_F(Recording, LostLinkMidTrial) {
  connect(107);
  ASSERT_EQ(start_recording(1, 1, 1, 1), 0);
  begin_realtime_mode(0);
  EXPECT_EQ(in_realtime_mode(), 1);
  ASSERT_TRUE(sim().drop_connection());
  ASSERT_TRUE(wait_until([] { return lumavex_is_connected() == 0; }));
  EXPECT_EQ(check_recording(), RECORDING_ABORTED);
  EXPECT_EQ(in_realtime_mode(), 0);  // a failed check leaves real-time mode
  EXPECT_EQ(start_recording(1, 1, 1, 1), RECORDING_ABORTED);
}

// Real-time mode raises the calling thread (SCHED_FIFO where allowed, else the best nice value)
// and the message file stays untouched until it ends.
TEST_F(Recording, RealtimeModeAndTheMessageFile) {
  connect(108);
  const std::string path = "/tmp/lvx_rt_msgs_" + std::to_string(getpid()) + ".txt";
  ASSERT_EQ(open_message_file(path.c_str()), 0);
  int policy_before = 0;
  sched_param param{};
  ASSERT_EQ(pthread_getschedparam(pthread_self(), &policy_before, &param), 0);

  begin_realtime_mode(10);
  EXPECT_EQ(in_realtime_mode(), 1);
  EXPECT_EQ(timemsg_printf(0, "line %d", 1), 0);
  EXPECT_EQ(timemsg_printf(5, "line %d", 2), 0);
  EXPECT_EQ(read_file(path), "");  // nothing written in real-time mode
  int policy = 0;
  ASSERT_EQ(pthread_getschedparam(pthread_self(), &policy, &param), 0);
  end_realtime_mode();
  EXPECT_EQ(in_realtime_mode(), 0);
  ASSERT_EQ(pthread_getschedparam(pthread_self(), &policy, &param), 0);
  EXPECT_EQ(policy, policy_before);

  EXPECT_EQ(timemsg_printf(7, "line 3"), 0);
  close_message_file();
  const std::string text = read_file(path);
  EXPECT_NE(text.find("\tline 1\n5\tline 2\n7\tline 3\n"), std::string::npos) << text;
  std::remove(path.c_str());

  // Without a file the lines go to the tracker.
  EXPECT_EQ(timemsg_printf(0, "to the tracker"), 0);
  ASSERT_TRUE(sim().wait_for_messages(1, 2000));
  EXPECT_EQ(sim().recorded_messages().back().text, "to the tracker");
  EXPECT_EQ(set_application_priority(5), 0);
}

TEST_F(Recording, ExtendedRealtimeKeepsTheHighPriority) {
  connect(109);
  // Without a reserve the class path is taken, where the extended flag applies.
  lvx::set_reserve_for_testing(0);
  begin_realtime_mode(0);
  lumavex_enable_extended_realtime();
  EXPECT_EQ(in_realtime_mode(), 0);
  const lvx::platform::ThreadSchedule after = lvx::platform::current_thread_schedule();
  EXPECT_EQ(after.policy, SCHED_OTHER);
  EXPECT_EQ(after.nice, lvx::platform::most_favourable_nice());
  EXPECT_EQ(set_normal_priority(), 1);
  EXPECT_EQ(set_high_priority(), 1);
  lvx::set_reserve_for_testing(std::nullopt);
  EXPECT_EQ(lumavex_check_mmcss(), 0);
}

}  // namespace
