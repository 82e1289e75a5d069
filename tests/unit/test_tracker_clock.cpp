// Tracker-clock estimate: the estimator driven with chosen local times, then the process-wide
// estimate through the exported readers.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <thread>

#include "link/tracker_clock.h"
#include "lumavex_core.h"

namespace {

using lvx::TrackerClock;

constexpr double kNow = 5e6;          // a local time well after the zero point
constexpr double kOffset = 123456.0;  // tracker minus local time

TEST(TrackerClockEstimator, FirstHeaderSetsTheOffset) {
  TrackerClock clock;
  clock.update(kNow + kOffset, kNow);
  EXPECT_TRUE(clock.known());
  EXPECT_EQ(clock.offset_usec(), kOffset);
  EXPECT_EQ(clock.last_tracker_usec(), kNow + kOffset);
  EXPECT_EQ(clock.update_count(), 1u);
  EXPECT_EQ(clock.report(kNow + 1000.0), kNow + 1000.0 + kOffset);
  EXPECT_EQ(clock.report_offset(kNow + 2000.0), kOffset);
  // Even near the estimate of 0 (right after a reset), the first header is not smoothed.
  TrackerClock fresh;
  fresh.update(10000.0 + 500.0, 10000.0);
  EXPECT_EQ(fresh.offset_usec(), 500.0);
}

TEST(TrackerClockEstimator, HeadersEvery2msMoveTheOffsetBy2PercentOfTheError) {
  TrackerClock clock;
  double now = kNow;
  clock.update(now + kOffset, now);
  // The tracker runs 1000 us ahead of the estimate from now on.
  double expected = kOffset;
  for (int i = 0; i < 50; ++i) {
    now += 2000.0;
    clock.update(now + kOffset + 1000.0, now);
    expected += 0.02 * (kOffset + 1000.0 - expected);
    ASSERT_NEAR(clock.offset_usec(), expected, 1e-6) << "header " << i;
  }
  // The first smoothed step is 20 us, and the estimate converges from below.
  EXPECT_GT(clock.offset_usec(), kOffset + 600.0);
  EXPECT_LT(clock.offset_usec(), kOffset + 1000.0);
  EXPECT_EQ(clock.update_count(), 51u);
}

TEST(TrackerClockEstimator, AJumpIsTakenOnlyOnceConsecutiveHeadersAgree) {
  TrackerClock clock;
  clock.update(kNow + kOffset, kNow);
  // 25 ms off is still smoothed.
  EXPECT_TRUE(clock.update(kNow + 1000.0 + kOffset - 25000.0, kNow + 1000.0));
  EXPECT_DOUBLE_EQ(clock.offset_usec(), kOffset - 500.0);
  // 30 ms off is a jump: the first two headers that agree on it are held back...
  const double jumped = kOffset + 30000.0;
  EXPECT_FALSE(clock.update(kNow + 2000.0 + jumped, kNow + 2000.0));
  EXPECT_FALSE(clock.update(kNow + 3000.0 + jumped + 400.0, kNow + 3000.0));
  EXPECT_DOUBLE_EQ(clock.offset_usec(), kOffset - 500.0);
  EXPECT_EQ(clock.update_count(), 2u);
  EXPECT_EQ(clock.held_back_count(), 2u);
  // ...and the third replaces the offset outright; later headers are smoothed from there.
  EXPECT_TRUE(clock.update(kNow + 4000.0 + jumped - 300.0, kNow + 4000.0));
  EXPECT_EQ(clock.offset_usec(), jumped - 300.0);
  EXPECT_TRUE(clock.update(kNow + 5000.0 + jumped + 700.0, kNow + 5000.0));
  EXPECT_DOUBLE_EQ(clock.offset_usec(), jumped - 300.0 + 0.02 * 1000.0);

  // After a gap (a second later), a header 40 ms off still needs two more that agree.
  const double far = clock.offset_usec() + 40000.0;
  EXPECT_FALSE(clock.update(kNow + 1e6 + far, kNow + 1e6));
  EXPECT_FALSE(clock.update(kNow + 2e6 + far, kNow + 2e6));
  EXPECT_TRUE(clock.update(kNow + 3e6 + far, kNow + 3e6));
  EXPECT_EQ(clock.offset_usec(), far);
}

TEST(TrackerClockEstimator, StrayHeadersFarOffNeverMoveTheEstimateOrTheReports) {
  TrackerClock clock;
  double now = kNow;
  clock.update(now + kOffset, now);
  // A stray stamp 10^9 ms ahead between every two good headers, then one far behind: the run of
  // jumps never reaches three that agree, so none is taken.
  for (int i = 0; i < 20; ++i) {
    now += 1000.0;
    EXPECT_FALSE(clock.update(now + kOffset + 1e12, now));
    EXPECT_FALSE(clock.update(now + kOffset - 5e9, now));
    now += 1000.0;
    EXPECT_TRUE(clock.update(now + kOffset, now));
  }
  EXPECT_DOUBLE_EQ(clock.offset_usec(), kOffset);
  EXPECT_DOUBLE_EQ(clock.report(now), now + kOffset);
  EXPECT_EQ(clock.held_back_count(), 40u);
  // Two agreeing strays followed by a good header start the count again.
  EXPECT_FALSE(clock.update(now + 1000.0 + kOffset + 1e12, now + 1000.0));
  EXPECT_FALSE(clock.update(now + 2000.0 + kOffset + 1e12, now + 2000.0));
  EXPECT_TRUE(clock.update(now + 3000.0 + kOffset, now + 3000.0));
  EXPECT_FALSE(clock.update(now + 4000.0 + kOffset + 1e12, now + 4000.0));
  // Three jumps in a row that disagree with each other: none is taken.
  EXPECT_FALSE(clock.update(now + 5000.0 + kOffset + 5e9, now + 5000.0));
  EXPECT_FALSE(clock.update(now + 6000.0 + kOffset - 5e9, now + 6000.0));
  EXPECT_DOUBLE_EQ(clock.offset_usec(), kOffset);
}

TEST(TrackerClockEstimator, AHeaderAfterAGapReplacesTheOffset) {
  TrackerClock clock;
  clock.update(kNow + kOffset, kNow);
  // Exactly 25 ms later still continues the stream.
  clock.update(kNow + 25000.0 + kOffset + 100.0, kNow + 25000.0);
  EXPECT_DOUBLE_EQ(clock.offset_usec(), kOffset + 2.0);
  // Just over 25 ms later does not, however small the error.
  clock.update(kNow + 50001.0 + kOffset + 100.0, kNow + 50001.0);
  EXPECT_EQ(clock.offset_usec(), kOffset + 100.0);
}

TEST(TrackerClockEstimator, ReportsNeverGoBackwards) {
  TrackerClock clock;
  clock.update(kNow + kOffset, kNow);
  const double first = clock.report(kNow + 1000.0);
  EXPECT_EQ(first, kNow + 1000.0 + kOffset);
  // The estimate shrinks by 20 us...
  clock.update(kNow + 2000.0 + kOffset - 1000.0, kNow + 2000.0);
  EXPECT_DOUBLE_EQ(clock.offset_usec(), kOffset - 20.0);
  // ...yet a report at the same local time holds the earlier value.
  EXPECT_EQ(clock.report(kNow + 1000.0), first);
  // The offset read through a report is held up the same way.
  EXPECT_EQ(clock.report_offset(kNow + 1000.0), kOffset);
  // Later local times move on again from the smaller offset.
  EXPECT_DOUBLE_EQ(clock.report(kNow + 3000.0), kNow + 3000.0 + kOffset - 20.0);
}

TEST(TrackerClockEstimator, ResetForgetsTheTimeButKeepsTheReportFloor) {
  TrackerClock clock;
  clock.update(kNow + kOffset, kNow);
  const double reported = clock.report(kNow);
  clock.reset();
  EXPECT_FALSE(clock.known());
  EXPECT_EQ(clock.offset_usec(), 0.0);
  EXPECT_EQ(clock.report(kNow), -1.0);
  // A tracker whose clock restarted near 0 cannot pull reports below the earlier one.
  clock.update(1000.0, kNow + 1000.0);
  EXPECT_EQ(clock.offset_usec(), 1000.0 - (kNow + 1000.0));
  EXPECT_EQ(clock.report(kNow + 2000.0), reported);
}

TEST(TrackerClockEstimator, RestartLowersTheFloorAndReplacesTheOffsetNext) {
  TrackerClock clock;
  clock.update(kNow + kOffset, kNow);
  clock.report(kNow);
  clock.restart();
  // Still known: restart alone does not forget the tracker time.
  EXPECT_TRUE(clock.known());
  // The next header is the first of a new connection, however close in time, and however far
  // from the old estimate: it is taken without confirmation.
  EXPECT_TRUE(clock.update(kNow + 1000.0 + 50.0, kNow + 1000.0));
  EXPECT_EQ(clock.offset_usec(), 50.0);
  EXPECT_EQ(clock.report(kNow + 1000.0), kNow + 1050.0);
}

TEST(TrackerClockMsec, RoundsDownAndWraps) {
  EXPECT_EQ(lvx::usec_to_msec_u32(-1.0), 0u);
  EXPECT_EQ(lvx::usec_to_msec_u32(-0.5), 0u);
  EXPECT_EQ(lvx::usec_to_msec_u32(std::nan("")), 0u);
  EXPECT_EQ(lvx::usec_to_msec_u32(0.0), 0u);
  EXPECT_EQ(lvx::usec_to_msec_u32(999.999), 0u);
  EXPECT_EQ(lvx::usec_to_msec_u32(1999.9), 1u);
  EXPECT_EQ(lvx::usec_to_msec_u32(4294967295.0 * 1000.0), 4294967295u);
  EXPECT_EQ(lvx::usec_to_msec_u32(4294967296.0 * 1000.0 + 5999.0), 5u);
}

// The process-wide estimate. Each test first resets it, so the order of tests does not matter.
class TrackerClockShared : public ::testing::Test {
 protected:
  void SetUp() override {
    lumavex_reset_clock(1);
    lvx::tracker_clock_reset();
    lvx::tracker_clock_restart();
  }
};

TEST_F(TrackerClockShared, UnknownBeforeAnyHeader) {
  EXPECT_EQ(lumavex_tracker_double_usec(), -1.0);
  EXPECT_EQ(lumavex_tracker_msec(), 0xFFFFFFFFu);  // -1.0 us rounded down to whole ms
  EXPECT_EQ(lumavex_double_usec_offset(), -1.0);
  EXPECT_DOUBLE_EQ(lumavex_double_msec_offset(), -0.001);
  EXPECT_EQ(lumavex_msec_offset(), 0u);
}

TEST_F(TrackerClockShared, AHeaderGivesTheOffset) {
  constexpr double kAhead = 7e9;  // tracker 7000 s ahead of the local clock
  const double before = current_double_usec();
  lvx::tracker_clock_update(before + kAhead);
  const double after = current_double_usec();

  const double offset = lumavex_double_usec_offset();
  EXPECT_LE(offset, kAhead);
  EXPECT_GE(offset, kAhead - (after - before) - 1.0);
  EXPECT_DOUBLE_EQ(lumavex_double_msec_offset(), lumavex_double_usec_offset() / 1000.0);
  const uint32_t msec_offset = lumavex_msec_offset();
  EXPECT_LE(msec_offset, 7000000u);
  EXPECT_GE(msec_offset, 6990000u);  // allows a 10 s stall between the two clock reads

  const double tracker = lumavex_tracker_double_usec();
  EXPECT_GE(tracker, before + kAhead - (after - before) - 1.0);
  const uint32_t tracker_msec = lumavex_tracker_msec();
  EXPECT_GE(tracker_msec, static_cast<uint32_t>(tracker / 1000.0));
  EXPECT_LE(tracker_msec, static_cast<uint32_t>(tracker / 1000.0) + 60000u);
}

TEST_F(TrackerClockShared, HeadersAreTakenAsOfTheirDatagramsArrival) {
  // A datagram that arrived 3 ms before the walk reached it: its header is the tracker's time
  // of then, and the estimate must not lag by the 3 ms.
  constexpr double kAhead = 5e6;
  const double arrived = current_double_usec() - 3000.0;
  lvx::tracker_clock_set_arrival(arrived);
  lvx::tracker_clock_update(arrived + kAhead);
  lvx::tracker_clock_set_arrival(-1.0);
  EXPECT_NEAR(lumavex_double_usec_offset(), kAhead, 1.0);
  // Without an arrival time, the moment of the update serves: a header stamped 3 ms ago (the
  // first of a new connection, so that it replaces the offset) reads as 3 ms behind.
  lvx::tracker_clock_restart();
  lvx::tracker_clock_update(current_double_usec() - 3000.0 + kAhead);
  EXPECT_NEAR(lumavex_double_usec_offset(), kAhead - 3000.0, 100.0);
}

TEST_F(TrackerClockShared, ATrackerBehindGivesZeroWholeMilliseconds) {
  // A tracker time stamp of 1 us is behind any local time after initialisation.
  lvx::tracker_clock_update(1.0);
  EXPECT_LT(lumavex_double_usec_offset(), 0.0);
  EXPECT_EQ(lumavex_msec_offset(), 0u);
}

TEST_F(TrackerClockShared, ReportsNeverGoBackwardsWhileTheReceiverUpdates) {
  // One thread feeds headers every few hundred microseconds whose offset wanders both ways;
  // the reader must never see the estimate fall.
  lvx::tracker_clock_update(current_double_usec() + 1e6);
  std::atomic<bool> stop{false};
  std::thread receiver([&stop] {
    int i = 0;
    while (!stop.load()) {
      const double jitter = (i % 7 - 3) * 400.0;
      lvx::tracker_clock_update(current_double_usec() + 1e6 + jitter);
      ++i;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  double last = lumavex_tracker_double_usec();
  const double first = last;
  bool fell = false;
  for (int i = 0; i < 20000; ++i) {
    const double now = lumavex_tracker_double_usec();
    if (now < last) fell = true;
    last = now;
  }
  stop.store(true);
  receiver.join();
  EXPECT_FALSE(fell);
  EXPECT_GT(first, 0.0);
}

}  // namespace
