// The interface exactly as users see it: only lumavex_core.h and the shared library.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "lumavex_core.h"
#include "sim/tracker.h"

// The layout users compile against must not drift.
static_assert(sizeof(LVXADDR) == 16);
static_assert(offsetof(LVXADDR, addr) == 0);
static_assert(offsetof(LVXADDR, port) == 4);
static_assert(offsetof(LVXADDR, unused) == 6);
static_assert(sizeof(LVXNODE) == 56);
static_assert(offsetof(LVXNODE, name) == 16);
static_assert(sizeof(MICRO_TIME) == 8);
static_assert(offsetof(MICRO_TIME, usec) == 4);
static_assert(NO_REPLY == 1000 && LINK_TERMINATED_RESULT == -100 && OK_RESULT == 0);

namespace {

TEST(PublicApi, ConnectsThroughTheSharedLibrary) {
  lvxsim::Config c;
  c.ip = {127, 0, 0, 50};
  c.version_text = "LUMAVEX TQ 1.2";
  c.keepalive_interval_ms = 5;
  lvxsim::SimTracker sim(c);
  std::string error;
  ASSERT_TRUE(sim.start(&error)) << error;
  ASSERT_EQ(set_lumavex_address("127.0.0.50"), 0);
  ASSERT_EQ(open_lumavex_connection(0), 0);
  EXPECT_EQ(lumavex_is_connected(), 1);
  char version[40] = {};
  EXPECT_EQ(lumavex_get_tracker_version(version), 4);
  EXPECT_STREQ(version, "LUMAVEX TQ 1.2");
  MICRO_TIME t{};
  uint32_t ms = current_micro(&t);
  EXPECT_EQ(t.msec, ms);
  EXPECT_LT(t.usec, 1000);

  EXPECT_EQ(lumavex_timed_command(2000, "clear_screen 0"), 0);
  EXPECT_EQ(lumavex_timed_command(2000, "brew_coffee"), 1);
  EXPECT_STREQ(lumavex_get_error(1, "lumavex_timed_command"), "Unknown Command");
  EXPECT_EQ(eyemsg_printf("TRIALID %d", 7), 0);
  ASSERT_TRUE(sim.wait_for_messages(1, 2000));
  EXPECT_EQ(sim.recorded_messages()[0].text, "TRIALID 7");
  close_lumavex_connection();
  EXPECT_EQ(lumavex_is_connected(), 0);
}

TEST(PublicApi, DummyModeAndVersionText) {
  ASSERT_EQ(open_lumavex_connection(1), 0);
  EXPECT_EQ(lumavex_is_connected(), -1);
  char text[16];
  lumavex_dll_version(text);
  EXPECT_STREQ(text, LUMAVEX_LIBRARY_VERSION_TEXT);
  close_lumavex_connection();
  EXPECT_EQ(lumavex_is_connected(), 0);
}

}  // namespace
