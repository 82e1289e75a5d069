// Keyboard and input events: the key queue that the exported key readers read, the break and
// escape keys, the application-terminated flag, and the queue of the other (mouse) input events.
// The library reads no devices itself; it polls the application's input hook through the graphic
// hooks' dispatcher (hook_poll_input_events).
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>

#include "lumavex_core.h"

namespace lvx {

// Input event types: a key event, and the bit that marks any other input event.
constexpr uint8_t kKeyEventType = 1;
constexpr uint8_t kOtherEventBit = 4;

// Key codes with a fixed meaning.
constexpr uint16_t kNoKey = 0;
constexpr uint16_t kNonKey = 1;
constexpr uint16_t kTerminateKey = TERMINATE_KEY;

// One entry of the key queue.
struct KeyEntry {
  uint16_t code = 0;
  uint16_t state = 0;  // 0 for keys that came from the input poll
  uint32_t time = 0;   // library clock (ms) when the pump read the key
  uint16_t modifiers = 0;
  uint16_t key_word2 = 0;
};

// The break and escape keys: a nonzero mask makes the key count only when the event's modifiers
// share a bit with it.
struct SpecialKeys {
  int break_mask = 0x40;  // left control
  int break_key = 0x63;   // "c"
  int escape_mask = 0;
  int escape_key = 0x1B;
  int fifth = 0;  // stored only
};

// One of the two option tables: stored for get_special_keys_ex, read by nothing else.
struct KeyOptionTable {
  std::array<int, 4> keys{};
  std::array<int, 4> masks{};
};

// The result of one key-queue read.
struct KeyRead {
  uint32_t value = 0;             // (modifiers << 16) | code, TERMINATE_KEY or 0
  std::optional<KeyEntry> entry;  // the entry taken, when one was
};

// A key as echoed to the tracker.
struct KeyEcho {
  uint16_t code = 0;
  uint16_t modifiers = 0;  // tracker modifier bits
  uint8_t state = 0;       // 1 or 10
};

// The tracker's modifier bits for the application's (SDL-style) modifier bits: shift 0x03,
// control 0x04, alt 0x08, num lock 0x20, caps lock 0x40.
uint16_t tracker_modifiers(uint16_t modifiers);

// What pump_and_echo_key sends for `entry`; nothing for key codes 0, 1 and TERMINATE_KEY.
std::optional<KeyEcho> key_echo(const KeyEntry &entry);

// The keyboard's process-wide state. Used without locks from the application's thread, on which
// the input hook is polled; only the terminated flag is atomic, because other subsystems read it
// from their own threads. Every method that depends on the time takes it as `now_ms` (the
// library clock).
class KeyboardState {
 public:
  static constexpr size_t kQueueSize = 16;
  static constexpr uint32_t kWindowMs = 1000;

  void set_special_keys(const SpecialKeys &keys) { special_ = keys; }
  const SpecialKeys &special_keys() const { return special_; }
  // Option 1 or 2: stores four masks and four keys (a null array leaves that half) and the count.
  // False for any other option.
  bool set_option(int option, const int *masks, const int *keys, int count);
  // Option 1 or 2: copies the table into each non-null output. False for any other option.
  bool get_option(int option, int *masks, int *keys, int *count) const;
  // The option's table; null for any other option.
  const KeyOptionTable *option_table(int option) const;

  // Key handling of one key event: released keys are ignored; a pressed one updates the break and
  // escape times (a break also sets the terminated flag) and is queued.
  void handle_key(const InputEvent &event, uint32_t now_ms);

  // True while the terminated flag is set or within kWindowMs of a break key.
  bool break_pressed(uint32_t now_ms) const;
  // During a break: counts the read and gives TERMINATE_KEY, or 0 on every fourth read.
  // Otherwise the oldest queued key, or 0 when the queue is empty.
  KeyRead read(uint32_t now_ms);

  // An escape time under kWindowMs old: clears it and returns true.
  bool take_recent_escape(uint32_t now_ms);
  // Any escape time: clears it and returns true.
  bool take_escape();

  void set_terminated(bool terminated) { terminated_.store(terminated ? 1 : 0); }
  int16_t terminated() const { return terminated_.load(); }

  void flush() { read_ = write_ = count_ = 0; }
  size_t queued() const { return count_; }

  // Back to the process start: defaults, empty queue, no times, counter 0, flag clear.
  void reset();

 private:
  // A time of 0 means "none", so a key read in the clock's first millisecond is stamped 1.
  static uint32_t stamp(uint32_t now_ms) { return now_ms == 0 ? 1 : now_ms; }
  static bool within_window(uint32_t time, uint32_t now_ms) {
    return time != 0 && now_ms - time < kWindowMs;
  }
  static bool matches(int mask, int key, const InputEvent &event);
  void push(const KeyEntry &entry);

  SpecialKeys special_;
  std::array<KeyOptionTable, 2> options_{};
  int option_count_ = 0;

  std::array<KeyEntry, kQueueSize> queue_{};
  size_t read_ = 0;
  size_t write_ = 0;
  size_t count_ = 0;

  uint32_t break_time_ = 0;
  uint32_t escape_time_ = 0;
  uint32_t break_reads_ = 0;
  std::atomic<int16_t> terminated_{0};
};

// The queue of input events other than keys: a ring of kSlots holding kSlots - 1 events, which
// drops the oldest when full. Each operation takes the queue's own lock.
class InputEventQueue {
 public:
  static constexpr size_t kSlots = 32;

  void push(const InputEvent &event);
  // The oldest event whose type shares a bit with mask, left in the queue.
  bool peek_first(uint8_t mask, InputEvent *out) const;
  // The newest event whose type shares a bit with mask, left in the queue.
  bool peek_last(uint8_t mask, InputEvent *out) const;
  // Takes events from the front until one matches; those passed over are discarded.
  bool take(uint8_t mask, InputEvent *out);
  void clear();
  size_t size() const;

 private:
  size_t count_locked() const { return (write_ + kSlots - read_) % kSlots; }

  mutable std::mutex lock_;
  std::array<InputEvent, kSlots> slots_{};
  size_t read_ = 0;
  size_t write_ = 0;
};

// The input's process-wide record: the keyboard state and the input event queue (application
// threads; the queue has its own lock), and the calibration-exit flag, written by any thread
// (exit_calibration), read and cleared by the setup loops on the application thread.
struct InputRecord {
  KeyboardState keyboard;
  InputEventQueue events;
  std::atomic<bool> calibration_exit{false};
};
InputRecord &input_record();

inline KeyboardState &keyboard() {
  return input_record().keyboard;
}
inline InputEventQueue &input_event_queue() {
  return input_record().events;
}

// Waits `delay` ms in 20 ms sleeps, calling pump() before each sleep while more than 20 ms
// remain. A delay of 0 does not sleep.
template <class Pump, class Sleep>
void run_pump_delay(uint32_t delay, Pump &&pump, Sleep &&sleep) {
  constexpr uint32_t kStepMs = 20;
  for (uint32_t remaining = delay; remaining > 0;) {
    if (remaining > kStepMs) pump();
    sleep(kStepMs);
    remaining = remaining > kStepMs ? remaining - kStepMs : 0;
  }
}

// Ends a running setup or drift-correction loop: sets the calibration-exit flag, which each loop
// reads once per pass and clears when it starts. Any thread may call it (set_terminal_break does).
void exit_calibration();
bool calibration_exit_requested();
void clear_calibration_exit();
// The application-terminated flag (set by the break key and terminal_break).
bool application_terminated_flag();

// The two option tables, with a log line for each call and for an option that is not 1 or 2.
void set_special_keys_ex(int option, const int *masks, const int *keys, int count);
void get_special_keys_ex(int option, int *masks, int *keys, int *count);

// Polls the application's input hook once: key events go to the key handling, other input
// events to the input event queue, anything else is dropped. Returns 1 while a break is on.
int16_t pump_key_events();
// Empties the input event queue, then pumps as pump_key_events.
int16_t pump_input_events();
// Waits `delay` ms, pumping every 20 ms (run_pump_delay).
void pump_for(uint32_t delay);

// Reads the key queue without pumping (KeyboardState::read).
uint32_t read_key();
// Pumps, then reads the key queue; a taken key's second key word goes to `word` (when not null).
uint32_t pump_and_read_key(uint16_t *word);
// Pumps, reads the key queue and echoes a taken key to the tracker (key_echo). Returns the key
// code alone, or during a break what the read gave.
uint32_t pump_and_echo_key();
// 1 for an escape key: a recent one without pumping, else any one found after a pump.
int16_t escape_key_pressed();
// 1 while a break is on (KeyboardState::break_pressed).
int16_t break_key_pressed();
// Sets or clears the application-terminated flag, ending a running setup loop first; logs the
// new value.
void set_terminal_break(bool terminated);

// The input event queue: the oldest (or newest) event whose type shares a bit with mask, left
// in the queue; or taken from it, dropping those passed over. False while the queue does not
// exist yet or without `out`.
bool peep_input_event(InputEvent *out, uint8_t mask, bool newest);
bool take_input_event(InputEvent *out, uint8_t mask);
void flush_input_events();

}  // namespace lvx
