#include "control/input.h"

#include <atomic>
#include <cstddef>

#include "control/keys.h"
#include "hooks/graphic_hooks.h"
#include "link/clock.h"
#include "link/log.h"
#include "lumavex_core.h"

// The record the application's hook fills is 12 bytes laid out as below; the hook is compiled
// against the same layout.
static_assert(sizeof(InputEvent) == 12);
static_assert(offsetof(InputEvent, type) == 0);
static_assert(offsetof(InputEvent, state) == 1);
static_assert(offsetof(InputEvent, key) == 2);
static_assert(offsetof(InputEvent, modifiers) == 4);
static_assert(offsetof(InputEvent, key_word2) == 6);
static_assert(offsetof(InputEvent, data) == 8);

namespace lvx {

namespace {

// SDL-style modifier bits of the input event, and the tracker's bits they become.
constexpr uint16_t kShift = 0x0003, kControl = 0x00C0, kAlt = 0x0300, kNumLock = 0x1000,
                   kCapsLock = 0x2000;
constexpr uint16_t kTrackerShift = 0x03, kTrackerControl = 0x04, kTrackerAlt = 0x08,
                   kTrackerNumLock = 0x20, kTrackerCapsLock = 0x40;

// Key states sent with an echoed key: 1 for a positive state word, 10 otherwise.
constexpr uint8_t kEchoPressed = 1;
constexpr uint8_t kEchoOther = 10;

// During a break, every fourth read gives 0 instead of TERMINATE_KEY.
constexpr uint32_t kBreakReadCycle = 4;

}  // namespace

uint16_t tracker_modifiers(uint16_t modifiers) {
  uint16_t m = 0;
  if ((modifiers & kShift) != 0) m |= kTrackerShift;
  if ((modifiers & kNumLock) != 0) m |= kTrackerNumLock;
  if ((modifiers & kCapsLock) != 0) m |= kTrackerCapsLock;
  if ((modifiers & kAlt) != 0) m |= kTrackerAlt;
  if ((modifiers & kControl) != 0) m |= kTrackerControl;
  return m;
}

std::optional<KeyEcho> key_echo(const KeyEntry &entry) {
  if (entry.code == kNoKey || entry.code == kNonKey || entry.code == kTerminateKey) return {};
  auto positive = static_cast<int16_t>(entry.state) > 0;
  return KeyEcho{entry.code, tracker_modifiers(entry.modifiers),
                 positive ? kEchoPressed : kEchoOther};
}

bool KeyboardState::set_option(int option, const int *masks, const int *keys, int count) {
  if (option != 1 && option != 2) return false;
  KeyOptionTable &t = options_[static_cast<size_t>(option - 1)];
  for (size_t i = 0; i < t.keys.size(); ++i) {
    if (keys != nullptr) t.keys[i] = keys[i];
    if (masks != nullptr) t.masks[i] = masks[i];
  }
  option_count_ = count;
  return true;
}

bool KeyboardState::get_option(int option, int *masks, int *keys, int *count) const {
  const KeyOptionTable *t = option_table(option);
  if (t == nullptr) return false;
  for (size_t i = 0; i < t->keys.size(); ++i) {
    if (keys != nullptr) keys[i] = t->keys[i];
    if (masks != nullptr) masks[i] = t->masks[i];
  }
  if (count != nullptr) *count = option_count_;
  return true;
}

const KeyOptionTable *KeyboardState::option_table(int option) const {
  if (option != 1 && option != 2) return nullptr;
  return &options_[static_cast<size_t>(option - 1)];
}

bool KeyboardState::matches(int mask, int key, const InputEvent &event) {
  if (mask != 0 && (mask & event.modifiers) == 0) return false;
  return event.key == key;
}

void KeyboardState::handle_key(const InputEvent &event, uint32_t now_ms) {
  if (event.state == 0) return;
  if (matches(special_.break_mask, special_.break_key, event)) {
    break_time_ = stamp(now_ms);
    set_terminated(true);
  } else {
    break_time_ = 0;
  }
  escape_time_ = matches(special_.escape_mask, special_.escape_key, event) ? stamp(now_ms) : 0;
  push(KeyEntry{event.key, 0, now_ms, event.modifiers, event.key_word2});
}

void KeyboardState::push(const KeyEntry &entry) {
  if (count_ == kQueueSize) {  // full: the oldest entry gives way
    read_ = (read_ + 1) % kQueueSize;
    --count_;
  }
  queue_[write_] = entry;
  write_ = (write_ + 1) % kQueueSize;
  ++count_;
}

bool KeyboardState::break_pressed(uint32_t now_ms) const {
  return terminated() != 0 || within_window(break_time_, now_ms);
}

KeyRead KeyboardState::read(uint32_t now_ms) {
  KeyRead r;
  if (break_pressed(now_ms)) {
    ++break_reads_;
    r.value = break_reads_ % kBreakReadCycle == 0 ? 0u : kTerminateKey;
    return r;
  }
  if (count_ == 0) return r;
  KeyEntry e = queue_[read_];
  read_ = (read_ + 1) % kQueueSize;
  --count_;
  r.value = (static_cast<uint32_t>(e.modifiers) << 16) | e.code;
  r.entry = e;
  return r;
}

bool KeyboardState::take_recent_escape(uint32_t now_ms) {
  if (!within_window(escape_time_, now_ms)) return false;
  escape_time_ = 0;
  return true;
}

bool KeyboardState::take_escape() {
  if (escape_time_ == 0) return false;
  escape_time_ = 0;
  return true;
}

void KeyboardState::reset() {
  special_ = SpecialKeys{};
  options_ = {};
  option_count_ = 0;
  flush();
  break_time_ = escape_time_ = 0;
  break_reads_ = 0;
  set_terminated(false);
}

void InputEventQueue::push(const InputEvent &event) {
  std::lock_guard guard(lock_);
  if ((write_ + 1) % kSlots == read_) read_ = (read_ + 1) % kSlots;  // full: drop the oldest
  slots_[write_] = event;
  write_ = (write_ + 1) % kSlots;
}

bool InputEventQueue::peek_first(uint8_t mask, InputEvent *out) const {
  std::lock_guard guard(lock_);
  size_t n = count_locked();
  for (size_t i = 0; i < n; ++i) {
    const InputEvent &e = slots_[(read_ + i) % kSlots];
    if ((e.type & mask) != 0) {
      *out = e;
      return true;
    }
  }
  return false;
}

bool InputEventQueue::peek_last(uint8_t mask, InputEvent *out) const {
  std::lock_guard guard(lock_);
  for (size_t i = count_locked(); i > 0; --i) {
    const InputEvent &e = slots_[(read_ + i - 1) % kSlots];
    if ((e.type & mask) != 0) {
      *out = e;
      return true;
    }
  }
  return false;
}

bool InputEventQueue::take(uint8_t mask, InputEvent *out) {
  std::lock_guard guard(lock_);
  while (read_ != write_) {
    const InputEvent &e = slots_[read_];
    read_ = (read_ + 1) % kSlots;
    if ((e.type & mask) != 0) {
      *out = e;
      return true;
    }
  }
  return false;
}

void InputEventQueue::clear() {
  std::lock_guard guard(lock_);
  read_ = write_ = 0;
}

size_t InputEventQueue::size() const {
  std::lock_guard guard(lock_);
  return count_locked();
}

void exit_calibration() {
  input_record().calibration_exit.store(true);
}

bool calibration_exit_requested() {
  return input_record().calibration_exit.load();
}

void clear_calibration_exit() {
  input_record().calibration_exit.store(false);
}

bool application_terminated_flag() {
  return keyboard().terminated() != 0;
}

void set_special_keys_ex(int option, const int *masks, const int *keys, int count) {
  log_printf("set_special_keys_ex option %d is set to key %d mask %d \n", option,
             keys != nullptr ? keys[0] : 0, masks != nullptr ? masks[0] : 0);
  if (!keyboard().set_option(option, masks, keys, count))
    log_printf("set_special_keys_ex option is not valid %d \n", option);
}

void get_special_keys_ex(int option, int *masks, int *keys, int *count) {
  if (!keyboard().get_option(option, masks, keys, count))
    log_printf("get_special_keys_ex option is not valid %d \n", option);
  const KeyOptionTable *t = keyboard().option_table(option);
  log_printf("get_special_keys_ex option %d is set to key %d \n", option,
             t != nullptr ? t->keys[0] : 0);
}

int16_t pump_key_events() {
  InputEvent events[kPollEventCount] = {};
  int n = hook_poll_input_events(events);
  for (int i = 0; i < n && i < kPollEventCount; ++i) {
    const InputEvent &e = events[i];
    if (e.type == kKeyEventType) {
      keyboard().handle_key(e, local_ms());
    } else if ((e.type & kOtherEventBit) != 0) {
      input_event_queue().push(e);
    }
  }
  return break_key_pressed();
}

int16_t pump_input_events() {
  flush_input_events();
  return pump_key_events();
}

void pump_for(uint32_t delay) {
  run_pump_delay(
      delay, [] { pump_input_events(); }, [](uint32_t ms) { delay_ms(static_cast<int32_t>(ms)); });
}

uint32_t read_key() {
  return keyboard().read(local_ms()).value;
}

uint32_t pump_and_read_key(uint16_t *word) {
  pump_input_events();
  KeyRead r = keyboard().read(local_ms());
  if (r.entry && word != nullptr) *word = r.entry->key_word2;
  return r.value;
}

uint32_t pump_and_echo_key() {
  pump_input_events();
  KeyRead r = keyboard().read(local_ms());
  if (!r.entry) return r.value;  // TERMINATE_KEY or 0 during a break; 0 when nothing is queued
  if (auto echo = key_echo(*r.entry)) send_keybutton(echo->code, echo->modifiers, echo->state);
  return r.entry->code;
}

int16_t escape_key_pressed() {
  if (keyboard().take_recent_escape(local_ms())) return 1;
  pump_input_events();
  return keyboard().take_escape() ? 1 : 0;
}

int16_t break_key_pressed() {
  return keyboard().break_pressed(local_ms()) ? 1 : 0;
}

void set_terminal_break(bool terminated) {
  exit_calibration();
  keyboard().set_terminated(terminated);
  log_printf("terminal_break get called and application_terminated_flag set to %d \n",
             keyboard().terminated());
}

bool peep_input_event(InputEvent *out, uint8_t mask, bool newest) {
  if (out == nullptr) return false;
  InputEventQueue &q = input_event_queue();
  return newest ? q.peek_last(mask, out) : q.peek_first(mask, out);
}

bool take_input_event(InputEvent *out, uint8_t mask) {
  return out != nullptr && input_event_queue().take(mask, out);
}

void flush_input_events() {
  input_event_queue().clear();
}

}  // namespace lvx
