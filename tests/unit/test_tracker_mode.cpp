// Tracker mode changes and queries: the pure decisions, and the functions' behaviour in dummy
// mode and without a connection. The link flags are set by hand; nothing opens the network.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

#include "control/control_state.h"
#include "control/tracker_mode.h"
#include "data/data_stream.h"
#include "library/lifecycle.h"
#include "link/link_state.h"
#include "link/transport.h"
#include "lumavex_core.h"

namespace {

using lvx::mode_bits;

TEST(TrackerModeBits, EveryModeWordWithAndWithoutPlayback) {
  struct Row {
    uint16_t word;
    uint16_t bits;       // without the playback bit in byte 18
    bool gets_playback;  // whether byte 18's playback bit adds 0x100
  };
  const Row rows[] = {
      {1, 0x01, true},   {2, 0x22, false},  {3, 0x02, true},   {8, 0x02, true},
      {4, 0x00, true},   {9, 0x00, true},   {5, 0x40, true},   {6, 0x40, true},
      {7, 0x40, true},   {10, 0x04, false}, {14, 0x04, false}, {11, 0x0A, false},
      {12, 0x0A, false}, {13, 0x1A, false}, {0, 0x00, true},   {15, 0x00, true},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.word);
    EXPECT_EQ(mode_bits(r.word, 0x00, true, false), r.bits);
    EXPECT_EQ(mode_bits(r.word, 0x02, true, false), r.gets_playback ? (r.bits | 0x100) : r.bits);
    // Other bits of byte 18 say nothing about playback.
    EXPECT_EQ(mode_bits(r.word, 0xFD, true, false), r.bits);
  }
}

TEST(TrackerModeBits, DisconnectedAndDisconnectAcknowledged) {
  EXPECT_EQ(mode_bits(0xFFFF, 0x00, true, false), 0);
  EXPECT_EQ(mode_bits(0xFFFF, 0x02, true, false), 0x100);
  // Not connected: the disconnect bit alone, whatever the last mode word was.
  EXPECT_EQ(mode_bits(14, 0x02, false, false), 0x4000);
  EXPECT_EQ(mode_bits(1, 0x00, false, false), 0x4000);
  // Dummy mode has no connection but reports the mode it set.
  EXPECT_EQ(mode_bits(14, 0x00, false, true), 0x04);
  EXPECT_EQ(mode_bits(3, 0x00, false, true), 0x02);
}

TEST(TrackerModeTexts, DriftCorrectionTargetsAreNeverCut) {
  EXPECT_EQ(lvx::drift_correction_targets_text(512.0f, 384.25f),
            "drift_correction_targets = 512.000 384.250");
  // Far beyond the tracker's 20-character field: both numbers still appear in full.
  std::string t = lvx::drift_correction_targets_text(1e20f, -1e20f);
  EXPECT_EQ(t, "drift_correction_targets = 100000002004087734272.000 -100000002004087734272.000");
}

TEST(TrackerModeWait, WrapRule) {
  EXPECT_FALSE(lvx::wraps(0, UINT32_MAX));
  EXPECT_TRUE(lvx::wraps(1, UINT32_MAX));
  EXPECT_FALSE(lvx::wraps(UINT32_MAX, 0));
  EXPECT_TRUE(lvx::wraps(UINT32_MAX, 1));
  EXPECT_FALSE(lvx::wraps(0xFFFFFF00u, 0xFF));
  EXPECT_TRUE(lvx::wraps(0xFFFFFF00u, 0x100));
}

TEST(TrackerModeVersion, FileCloseCompleteFromGenerationAndVersion) {
  EXPECT_TRUE(lvx::needs_file_close_complete(3, "LUMAVEX RX 3.1"));
  EXPECT_TRUE(lvx::needs_file_close_complete(3, "LUMAVEX RX 5.7"));
  EXPECT_TRUE(lvx::needs_file_close_complete(4, "LUMAVEX TQ 6.12 beta"));
  EXPECT_FALSE(lvx::needs_file_close_complete(3, "LUMAVEX RX 3.09"));
  EXPECT_FALSE(lvx::needs_file_close_complete(3, "LUMAVEX RX 3.0"));
  EXPECT_FALSE(lvx::needs_file_close_complete(2, "LUMAVEX KK 5.0"));
  EXPECT_FALSE(lvx::needs_file_close_complete(0, ""));
  EXPECT_FALSE(lvx::needs_file_close_complete(4, "LUMAVEX T"));
  EXPECT_FALSE(lvx::needs_file_close_complete(3, "LUMAVEX RX beta"));
  EXPECT_FALSE(lvx::needs_file_close_complete(3, nullptr));
}

// Puts an atomic back to the value it had when the keeper was made.
template <class T>
class Keep {
 public:
  explicit Keep(std::atomic<T> &a) : a_(a), v_(a.load()) {}
  ~Keep() { a_ = v_; }
  Keep(const Keep &) = delete;
  Keep &operator=(const Keep &) = delete;

 private:
  std::atomic<T> &a_;
  T v_;
};

// Restores the process-wide state these tests set by hand; each test starts from a closed,
// unconnected, non-dummy link.
class TrackerModeState : public ::testing::Test {
 protected:
  void SetUp() override {
    {
      lvx::LinkLockGuard lock;
      saved_byte18_ = lvx::link_record().state.header_byte18;
    }
    std::lock_guard lock(lvx::data_stream().data_lock);
    saved_status_ = lvx::data_stream().status;
    lvx::link_system().dummy = false;
    lvx::link_system().open = false;
    lvx::link_system().quiet = 0;
    lvx::link_record().is_connected = 0;
  }
  void TearDown() override {
    set_byte18(saved_byte18_);
    with_status([](link_state &s) { s = saved_status_; });
  }

  static void set_byte18(uint8_t v) {
    lvx::LinkLockGuard lock;
    lvx::link_record().state.header_byte18 = v;
    lvx::link_record().mode_code = v;
  }
  static void with_status(void (*change)(link_state &)) {
    std::lock_guard lock(lvx::data_stream().data_lock);
    change(lvx::data_stream().status);
  }

 private:
  Keep<bool> dummy_{lvx::link_system().dummy};
  Keep<bool> open_{lvx::link_system().open};
  Keep<int16_t> quiet_{lvx::link_system().quiet};
  Keep<int16_t> connected_{lvx::link_record().is_connected};
  Keep<uint16_t> mode_word_{lvx::link_record().mode_word};
  Keep<int> ready_{lvx::link_record().mode_ready};
  Keep<bool> samples_on_{lvx::data_stream().samples_on};
  Keep<bool> events_on_{lvx::data_stream().events_on};
  Keep<int16_t> eye_{lvx::control_state().remembered_eye};
  Keep<int16_t> visible_{lvx::control_state().target_visible};
  Keep<bool> playback_{lvx::control_state().playback};
  uint8_t saved_byte18_ = 0;
  static inline link_state saved_status_{};
};

using TrackerModeOffline = TrackerModeState;

TEST_F(TrackerModeOffline, AbortSendsNothingWhenIdleOrQuiet) {
  lvx::link_record().mode_word = 1;
  EXPECT_EQ(lumavex_abort(), 0);  // a send would have failed with -100
  lvx::link_record().mode_word = 14;
  EXPECT_EQ(lumavex_abort(), LINK_TERMINATED_RESULT);
  lvx::link_system().quiet = 1;
  EXPECT_EQ(lumavex_abort(), 0);
}

TEST_F(TrackerModeOffline, FailedModeChangesStillResetTheirState) {
  lvx::ControlState &c = lvx::control_state();
  lvx::link_record().mode_word = 5;
  c.target_visible = 1;
  EXPECT_EQ(lumavex_start_setup(), LINK_TERMINATED_RESULT);
  EXPECT_EQ(c.target_visible, 0);
  EXPECT_EQ(lvx::link_record().mode_word, 5);  // only dummy mode sets it

  {
    lvx::LinkLockGuard lock;
    c.cal_result = 3;
    std::strcpy(c.cal_message, "calibration ok");
  }
  c.target_visible = 1;
  EXPECT_EQ(lumavex_driftcorr_startf(100.5f, 200.0f), LINK_TERMINATED_RESULT);
  EXPECT_EQ(c.target_visible, 0);
  lvx::LinkLockGuard lock;
  EXPECT_EQ(c.cal_result, 1000);
  EXPECT_EQ(c.cal_message[0], '\0');
}

TEST_F(TrackerModeOffline, PlaybackRefusedWithoutAControllingConnection) {
  lvx::LinkRecord &r = lvx::link_record();
  lvx::ControlState &c = lvx::control_state();
  c.playback = true;
  // Not connected, listening by broadcast, connected but quiet.
  for (int connected : {0, 2, 1}) {
    r.is_connected = static_cast<int16_t>(connected);
    lvx::link_system().quiet = connected == 1 ? 1 : 0;
    EXPECT_EQ(lumavex_playback_start(), LINK_TERMINATED_RESULT) << connected;
    EXPECT_EQ(lumavex_playback_stop(), LINK_TERMINATED_RESULT) << connected;
  }
  EXPECT_TRUE(c.playback);  // refused calls change nothing
}

TEST_F(TrackerModeOffline, QueriesOfAClosedSystem) {
  EXPECT_EQ(lumavex_current_mode(), IN_DISCONNECT_MODE);
  EXPECT_EQ(lumavex_in_setup(), 0);
  EXPECT_EQ(lumavex_wait_for_mode_ready(0), LINK_TERMINATED_RESULT);
  EXPECT_EQ(lumavex_eye_available(), LINK_TERMINATED_RESULT);
  EXPECT_EQ(lumavex_position_prescaler(), 10);
  // Block start asks about the system first, data waits about the connection.
  EXPECT_EQ(lumavex_wait_for_block_start(100, 1, 0), 0);
  EXPECT_EQ(lumavex_wait_for_data(100, 1, 0), LINK_TERMINATED_RESULT);
  EXPECT_EQ(lumavex_wait_for_data(UINT32_MAX, 1, 0), 0);  // wraps: 0 before the link check
}

// An open, connected link without a network: the flags are set by hand.
using TrackerModeLinked = TrackerModeState;

TEST_F(TrackerModeLinked, EyeNeedsRecordingOrPlaybackAndIsRemembered) {
  lvx::LinkRecord &r = lvx::link_record();
  lvx::link_system().open = true;
  r.is_connected = 1;
  r.mode_word = 1;
  set_byte18(0);
  EXPECT_EQ(lumavex_eye_available(), -1);

  r.mode_word = 14;
  with_status([](link_state &s) { s.packet_flags = 0x4000; });
  EXPECT_EQ(lumavex_eye_available(), 1);
  with_status([](link_state &s) { s.packet_flags = 0x0000; });
  EXPECT_EQ(lumavex_eye_available(), 1);  // remembered
  with_status([](link_state &s) { s.packet_flags = 0xC000; });
  EXPECT_EQ(lumavex_eye_available(), 2);

  r.mode_word = 1;
  set_byte18(0x02);  // idle during playback
  with_status([](link_state &s) { s.packet_flags = 0x8000; });
  EXPECT_EQ(lumavex_eye_available(), 0);
}

}  // namespace
