// The keyboard and input events: break and escape keys, the key queue, the tracker modifier
// mapping, the input event ring, the pump's delay steps, and the exported functions driven by a
// fake input poll.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "control/input.h"
#include "control/keys.h"
#include "hooks/graphic_hooks.h"
#include "lumavex_core.h"

namespace {

using lvx::InputEventQueue;
using lvx::KeyboardState;

constexpr uint16_t kLeftControl = 0x0040;

InputEvent key(uint16_t code, uint16_t modifiers = 0, uint8_t state = 1, uint16_t word2 = 0) {
  InputEvent e{};
  e.type = 1, e.state = state, e.key = code, e.modifiers = modifiers, e.key_word2 = word2;
  return e;
}

InputEvent mouse(uint32_t data, uint8_t type = 4) {
  InputEvent e{};
  e.type = type, e.data = data;
  return e;
}

// ---- KeyboardState ----

// What getkey returns during a break is checked through the exported functions; here the times.
TEST(KeyboardState, ControlCBreaksUntilTheFlagIsCleared) {
  KeyboardState kb;
  kb.handle_key(key(0x63, kLeftControl), 5000);
  EXPECT_TRUE(kb.break_pressed(60000));  // the flag outlives the 1000 ms window
  kb.set_terminated(false);
  EXPECT_TRUE(kb.break_pressed(5999));  // still inside the break key's own window
  EXPECT_FALSE(kb.break_pressed(6000));
}

TEST(KeyboardState, BreakKeyNeedsItsModifier) {
  KeyboardState kb;
  kb.handle_key(key(0x63), 100);          // plain "c"
  kb.handle_key(key(0x63, 0x0080), 110);  // right control is outside the default mask
  EXPECT_FALSE(kb.break_pressed(120));
  EXPECT_EQ(kb.terminated(), 0);
  EXPECT_EQ(kb.read(120).value, 0x63u);
  EXPECT_EQ(kb.read(120).value, 0x00800063u);

  // A key after the break key clears the break time (the flag stays until cleared).
  kb.handle_key(key(0x63, kLeftControl), 200);
  kb.set_terminated(false);
  kb.handle_key(key('x'), 210);
  EXPECT_FALSE(kb.break_pressed(220));

  // Released keys are ignored entirely: no break, no queue entry.
  kb.flush();
  kb.handle_key(key(0x63, kLeftControl, 0), 300);
  EXPECT_FALSE(kb.break_pressed(300));
  EXPECT_EQ(kb.queued(), 0u);
}

TEST(KeyboardState, EscapeIsReportedOnce) {
  KeyboardState kb;
  kb.handle_key(key(0x1B), 2000);
  EXPECT_EQ(kb.terminated(), 0);  // escape never touches the flag
  EXPECT_TRUE(kb.take_recent_escape(2999));
  EXPECT_FALSE(kb.take_recent_escape(2999));
  EXPECT_FALSE(kb.take_escape());

  // An old escape is not taken before polling but is after it.
  kb.handle_key(key(0x1B), 4000);
  EXPECT_FALSE(kb.take_recent_escape(5000));
  EXPECT_TRUE(kb.take_escape());

  // An escape mask needs a shared bit; any other key clears the escape time.
  kb.set_special_keys(lvx::SpecialKeys{0x40, 0x63, 0x0300, 0x1B, 0});
  kb.handle_key(key(0x1B), 6000);
  EXPECT_FALSE(kb.take_escape());
  kb.handle_key(key(0x1B, 0x0100), 6010);
  EXPECT_TRUE(kb.take_escape());
  kb.handle_key(key(0x1B, 0x0100), 6020);
  kb.handle_key(key('a'), 6030);
  EXPECT_FALSE(kb.take_escape());
}

TEST(KeyboardState, SeventeenthKeyOverwritesTheOldest) {
  KeyboardState kb;
  for (uint16_t i = 0; i < 17; ++i)
    kb.handle_key(key(static_cast<uint16_t>('a' + i), 0x2001, 7, i), 50u + i);
  EXPECT_EQ(kb.queued(), 16u);
  lvx::KeyRead first = kb.read(100);
  ASSERT_TRUE(first.entry);
  EXPECT_EQ(first.value, 0x20010062u);
  EXPECT_EQ(first.entry->state, 0);  // polled keys carry state word 0
  EXPECT_EQ(first.entry->time, 51u);
  EXPECT_EQ(first.entry->key_word2, 1);
  for (int i = 0; i < 14; ++i) kb.read(100);
  EXPECT_EQ(kb.read(100).value, 0x20010000u | ('a' + 16));
  EXPECT_EQ(kb.read(100).value, 0u);
  EXPECT_FALSE(kb.read(100).entry);
}

// ---- echo mapping ----

// The echo of a plain key (0x0041 -> 0x07, state 10) is checked end to end.
TEST(KeyEcho, TrackerModifiersStateAndSkippedCodes) {
  // Left shift + left control, right shift, a 0x1000 bit with left shift, 0x0C3C outside all.
  const uint16_t from[] = {0x0041, 0x0002, 0x1000, 0x1001, 0x2000, 0x0200, 0x0080, 0x0C3C};
  const uint16_t to[] = {0x07, 0x03, 0x20, 0x23, 0x40, 0x08, 0x04, 0x00};
  for (size_t i = 0; i < 8; ++i) EXPECT_EQ(lvx::tracker_modifiers(from[i]), to[i]) << from[i];

  EXPECT_EQ(lvx::key_echo(lvx::KeyEntry{0x41, 1, 0, 0, 0})->state, 1);
  EXPECT_EQ(lvx::key_echo(lvx::KeyEntry{0x41, 0xFFFF, 0, 0, 0})->state, 10);  // negative word
  EXPECT_FALSE(lvx::key_echo(lvx::KeyEntry{0, 0, 0, 0x0001, 0}));
  EXPECT_FALSE(lvx::key_echo(lvx::KeyEntry{1, 0, 0, 0, 0}));
  EXPECT_FALSE(lvx::key_echo(lvx::KeyEntry{TERMINATE_KEY, 0, 0, 0, 0}));
}

// ---- InputEventQueue ----

TEST(InputEventQueue, TakeDiscardsWhatItPassesOverAndTheRingHoldsThirtyOne) {
  InputEventQueue q;
  q.push(mouse(1, 1));  // key-type record
  q.push(mouse(2, 4));
  q.push(mouse(3, 4));
  InputEvent out{};
  ASSERT_TRUE(q.take(4, &out));
  EXPECT_EQ(out.data, 2u);
  EXPECT_EQ(q.size(), 1u);
  EXPECT_FALSE(q.take(0x80, &out));  // no match: everything is passed over
  EXPECT_EQ(q.size(), 0u);

  for (uint32_t i = 0; i < 40; ++i) q.push(mouse(i));
  EXPECT_EQ(q.size(), 31u);
  ASSERT_TRUE(q.peek_first(4, &out));
  EXPECT_EQ(out.data, 9u);
}

// ---- delay steps ----

std::string delay_steps(uint32_t delay) {
  std::string steps;
  lvx::run_pump_delay(
      delay, [&] { steps += 'p'; }, [&](uint32_t ms) { steps += ms == 20 ? 's' : '?'; });
  return steps;
}

TEST(PumpDelay, TwentyMillisecondSteps) {
  const std::vector<std::string> steps = {delay_steps(0), delay_steps(15), delay_steps(20),
                                          delay_steps(21), delay_steps(60)};
  EXPECT_EQ(steps, (std::vector<std::string>{"", "s", "s", "pss", "pspss"}));
}

// ---- exported functions with a fake input poll ----

// The application's poll_input_events_hook: one batch per poll, then nothing.
std::vector<std::vector<InputEvent>> g_batches;
size_t g_next_batch = 0;
int g_polls = 0;

int16_t fake_poll(InputEvent *events) {
  ++g_polls;
  if (g_next_batch >= g_batches.size()) return 0;
  const std::vector<InputEvent> &b = g_batches[g_next_batch++];
  std::copy(b.begin(), b.end(), events);  // the batches are shorter than the poll's 20 records
  return static_cast<int16_t>(b.size());
}

class InputPump : public testing::Test {
 protected:
  void SetUp() override {
    lvx::keyboard().reset();
    lumavex_flush_input_event();
    g_batches.clear();
    g_next_batch = 0;
    g_polls = 0;
    GraphicHooks hooks{};
    hooks.poll_input_events_hook = fake_poll;
    setup_graphic_hook_functions(&hooks);
  }
  void TearDown() override {
    setup_graphic_hook_functions(nullptr);
    lvx::keyboard().reset();
  }
};

TEST_F(InputPump, GetkeyDuringAndAfterABreak) {
  g_batches = {{key(0x63, kLeftControl)}, {}, {}, {}, {}, {key('x')}};
  const uint32_t T = TERMINATE_KEY;
  std::vector<uint32_t> reads;
  for (int i = 0; i < 5; ++i) reads.push_back(getkey());
  EXPECT_EQ(reads, (std::vector<uint32_t>{T, T, T, 0, T}));
  EXPECT_EQ(break_pressed(), 1);
  EXPECT_EQ(application_terminated(), 1);

  terminal_break(0);
  EXPECT_EQ(application_terminated(), 0);
  EXPECT_EQ(key_message_pump(), 0);  // "x" ends the break key's window
  EXPECT_EQ(getkey(), 0x00400063u);
  EXPECT_EQ(getkey(), static_cast<uint32_t>('x'));
  EXPECT_EQ(getkey(), 0u);

  // A link reset clears a flag set by the application.
  terminal_break(1);
  EXPECT_EQ(break_pressed(), 1);
  lvx::clear_terminal_break();
  EXPECT_EQ(application_terminated(), 0);
  EXPECT_EQ(break_pressed(), 0);
}

TEST_F(InputPump, EscapeAndSecondKeyWord) {
  g_batches = {{key(0x1B, 0, 1, 0x1234)}};
  EXPECT_EQ(escape_pressed(), 1);
  EXPECT_EQ(escape_pressed(), 0);
  EXPECT_EQ(g_polls, 2);  // the first call had no recent escape either, so it polled
  uint16_t word = 0;
  EXPECT_EQ(getkey_with_mod(&word), 0x1Bu);
  EXPECT_EQ(word, 0x1234);
  word = 7;
  EXPECT_EQ(getkey_with_mod(&word), 0u);
  EXPECT_EQ(word, 7);  // no key taken: left alone

  g_batches.push_back({key('a'), key('b')});
  key_message_pump();
  EXPECT_EQ(flush_getkey_queue(), 0);
  EXPECT_EQ(getkey(), 0u);
}

TEST_F(InputPump, MessagePumpEmptiesTheInputQueueBeforePolling) {
  // Type 2 has neither the key type nor bit 4: dropped.
  g_batches = {{mouse(1), key('a'), mouse(9, 2)}, {mouse(2, 0x0C)}, {mouse(3)}};
  EXPECT_EQ(key_message_pump(), 0);
  EXPECT_EQ(key_message_pump(), 0);
  InputEvent out{};
  EXPECT_EQ(lumavex_peep_input_event(&out, 2), 0);
  ASSERT_EQ(lumavex_peep_input_event(&out, 4), 1);
  EXPECT_EQ(out.data, 1u);
  ASSERT_EQ(lumavex_peep_last_input_event(&out, 4), 1);
  EXPECT_EQ(out.data, 2u);
  ASSERT_EQ(lumavex_peep_input_event(&out, 8), 1);
  EXPECT_EQ(out.data, 2u);
  EXPECT_EQ(read_getkey_queue(), static_cast<uint32_t>('a'));  // the key went to the key queue

  EXPECT_EQ(message_pump(), 0);
  ASSERT_EQ(lumavex_get_input_event(&out, 4), 1);
  EXPECT_EQ(out.data, 3u);
  EXPECT_EQ(lumavex_get_input_event(&out, 4), 0);
}

TEST_F(InputPump, PumpDelayPumpsOnlyWhileMoreThanAStepRemains) {
  uint32_t start = current_time();
  pump_delay(15);
  EXPECT_EQ(g_polls, 0);
  EXPECT_GE(current_time() - start, 19u);
  pump_delay(50);
  EXPECT_EQ(g_polls, 2);
}

TEST_F(InputPump, SpecialKeyListsOneAndTwoOnly) {
  const int masks[4] = {0x40, 0, 0, 0};
  const int keys[4] = {'r', 's', 't', 'u'}, others[4] = {'x', 'x', 'x', 'x'};
  lumavex_set_special_keys_ex(1, masks, keys, 2);
  lumavex_set_special_keys_ex(5, masks, others, 3);  // no such list: nothing stored
  int out_masks[4] = {}, out_keys[4] = {}, count = 0;
  lumavex_get_special_keys_ex(1, out_masks, out_keys, &count);
  EXPECT_EQ(std::vector<int>(out_keys, out_keys + 4), std::vector<int>(keys, keys + 4));
  EXPECT_EQ(out_masks[0], 0x40);
  EXPECT_EQ(count, 2);
  lumavex_get_special_keys_ex(2, nullptr, out_keys, nullptr);
  EXPECT_EQ(out_keys[0], 0);  // list 2 is empty by default
  out_keys[0] = 7;
  lumavex_get_special_keys_ex(0, nullptr, out_keys, nullptr);
  EXPECT_EQ(out_keys[0], 7);
}

TEST_F(InputPump, SetSpecialKeysChangesTheBreakKey) {
  lumavex_set_special_keys(0, 'q', 0x0100, 'e', 99);
  g_batches = {{key(0x63, kLeftControl)}, {key('e', 0x0100)}, {key('q')}};
  EXPECT_EQ(key_message_pump(), 0);
  EXPECT_EQ(escape_pressed(), 1);
  EXPECT_EQ(key_message_pump(), 1);
  EXPECT_EQ(lvx::keyboard().special_keys().fifth, 99);
}

}  // namespace
