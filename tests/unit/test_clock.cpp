// Local clock: zero points of the two clock bases, the conversions between the readers, and the
// delay. Timing checks only use lower bounds that the clock guarantees, and upper bounds loose
// enough for a loaded machine.
#include <gtest/gtest.h>

#include <cstdint>

#include "link/clock.h"
#include "lumavex_core.h"
#include "platform/clock.h"

namespace {

constexpr int64_t kNsPerUs = 1000;

// Puts the process back on the default base after tests that change it.
class ClockTest : public ::testing::Test {
 protected:
  void SetUp() override { lumavex_reset_clock(1); }
  void TearDown() override {
    if (lumavex_get_clock_base() != 0) lumavex_set_clock_base(0);
  }
};

// No fixture here: the clock must already run when the program starts, without any call. (When
// the whole program runs in one process, earlier tests may have initialised it as well.)
TEST(ClockLoad, LibraryLoadInitialisesTheClock) {
  EXPECT_TRUE(lvx::clock_initialised());
  EXPECT_GT(lvx::clock_timer_resolution_100ns(), 0);
  const double first = current_double_usec();
  EXPECT_GT(first, 0.0);
  msec_delay(1);
  EXPECT_GT(current_double_usec(), first);
}

TEST_F(ClockTest, OutOfRangeBasesAreStoredAsZero) {
  for (int base : {5, -1, 2}) {
    lumavex_set_clock_base(QX_CLOCK_BASE_MACHINE_LOCAL);
    lumavex_set_clock_base(base);
    EXPECT_EQ(lumavex_get_clock_base(), 0) << base;
  }
}

TEST_F(ClockTest, MachineLocalBaseCountsFromTheMonotonicOrigin) {
  lumavex_set_clock_base(QX_CLOCK_BASE_MACHINE_LOCAL);
  EXPECT_EQ(get_zero_time(), 0u);
  // Any process reading the monotonic clock brackets our reading.
  const int64_t before = lvx::platform::counter_now() / kNsPerUs;
  const uint64_t ours = current_usec();
  const int64_t after = lvx::platform::counter_now() / kNsPerUs;
  EXPECT_GE(static_cast<int64_t>(ours), before);
  EXPECT_LE(static_cast<int64_t>(ours), after);
}

TEST_F(ClockTest, DefaultBaseCountsFromInitialisation) {
  const int64_t before = lvx::platform::counter_now() / kNsPerUs;
  lumavex_set_clock_base(0);
  const int64_t after = lvx::platform::counter_now() / kNsPerUs;
  const auto zero = static_cast<int64_t>(get_zero_time());
  EXPECT_GE(zero, before - 1);
  EXPECT_LE(zero, after);
  // Initialisation waits 20 ms after fixing the zero point.
  EXPECT_GE(current_double_usec(), 20000.0);
  EXPECT_LT(current_double_usec(), static_cast<double>(after - zero) + 60e6);
}

TEST_F(ClockTest, ResetClockDoesNotMoveAnInitialisedClock) {
  lumavex_set_clock_base(0);
  const uint64_t zero = get_zero_time();
  EXPECT_EQ(lumavex_reset_clock(1), 0);
  EXPECT_EQ(get_zero_time(), zero);
  EXPECT_EQ(lumavex_reset_clock(0), 0);
  EXPECT_EQ(get_zero_time(), zero);
  // Forcing through the base does move it.
  lumavex_set_clock_base(0);
  EXPECT_GT(get_zero_time(), zero);
}

TEST_F(ClockTest, CurrentMicroSplitsMillisecondsAndMicroseconds) {
  MICRO_TIME m{0xFFFFFFFFu, 0xFFFF};
  const uint64_t before = current_usec();
  const uint32_t returned = current_micro(&m);
  const uint64_t after = current_usec();
  EXPECT_EQ(returned, m.msec);
  EXPECT_LE(m.usec, 999);
  const uint64_t combined = static_cast<uint64_t>(m.msec) * 1000 + m.usec;
  EXPECT_GE(combined, before);
  EXPECT_LE(combined, after);
  // A null record is allowed.
  EXPECT_GE(current_micro(nullptr), returned);
}

TEST_F(ClockTest, DelayLastsTheAskedTimeAndNegativeOnesReturnAtOnce) {
  for (int32_t ms : {1, 30}) {
    const double start = current_double_usec();
    msec_delay(ms);
    const double elapsed = current_double_usec() - start;
    EXPECT_GE(elapsed, ms * 1000.0) << ms << " ms";
    EXPECT_LT(elapsed, ms * 1000.0 + 5e6) << ms << " ms";
  }
  // A negative delay read as unsigned would wait for weeks; the bound only has to catch that.
  const double start = current_double_usec();
  msec_delay(-3);
  msec_delay(INT32_MIN);
  msec_delay(0);
  EXPECT_LT(current_double_usec() - start, 2e6);
}

}  // namespace
