// A key the application's input poll reports reaches the tracker through echo_key as a key packet
// carrying the tracker's modifier bits.
#include "control/input.h"
#include "sim/tracker_control.h"
#include "sim_fixture.h"

namespace {

using simtest::wait_until;

int g_polls = 0;

// The application's poll: left shift + left control "A" pressed on the first poll, then nothing.
int16_t poll_one_key(InputEvent *events) {
  if (g_polls++ > 0) return 0;
  events[0] = InputEvent{};
  events[0].type = 1;
  events[0].state = 1;
  events[0].key = 0x41;
  events[0].modifiers = 0x0041;
  return 1;
}

class EchoKeyLink : public simtest::SimTest {
 protected:
  void TearDown() override {
    setup_graphic_hook_functions(nullptr);
    SimTest::TearDown();
  }
};

TEST_F(EchoKeyLink, PolledKeyReachesTheTrackerWithItsModifiers) {
  lvxsim::Config c;
  c.control.enabled = true;
  start_tracker(150, c);
  ASSERT_EQ(open_lumavex_connection(0), 0);
  ASSERT_TRUE(sim().wait_for_commands(1, 2000));  // "link_update_interval = 50"
  lvx::keyboard().reset();
  GraphicHooks hooks{};
  hooks.poll_input_events_hook = poll_one_key;
  setup_graphic_hook_functions(&hooks);

  EXPECT_EQ(echo_key(), 0x41u);
  EXPECT_EQ(echo_key(), 0u);  // nothing more polled: nothing more sent
  ASSERT_TRUE(wait_until([&] { return !sim().control().received_keys().empty(); }));
  auto keys = sim().control().received_keys();
  ASSERT_EQ(keys.size(), 1u);
  EXPECT_EQ(keys[0].code, 0x41);
  EXPECT_EQ(keys[0].modifiers, 0x07);
  EXPECT_EQ(keys[0].state, 10);
  EXPECT_EQ(keys[0].button, 0);
  EXPECT_EQ(g_polls, 2);
}

}  // namespace
