// Exported keyboard and input-event functions: the key queue and its readers, the pump that
// polls the application's input hook, the break and escape keys, the terminal-break flag, and the
// queue of the other input events.
#include "control/input.h"
#include "api/guard.h"
#include "lumavex_core.h"

using lvx::api::guard;
using lvx::api::guard_void;

extern "C" {

// ---- Special keys ----

void lumavex_set_special_keys(int break_mask, int break_key, int escape_mask, int escape_key,
                              int fifth) noexcept {
  guard_void([&] {
    lvx::keyboard().set_special_keys(
        lvx::SpecialKeys{break_mask, break_key, escape_mask, escape_key, fifth});
  });
}

void lumavex_set_special_keys_ex(int option, const int *masks, const int *keys,
                                 int count) noexcept {
  guard_void([&] { lvx::set_special_keys_ex(option, masks, keys, count); });
}

void lumavex_get_special_keys_ex(int option, int *masks, int *keys, int *count) noexcept {
  guard_void([&] { lvx::get_special_keys_ex(option, masks, keys, count); });
}

// ---- The pump ----

int16_t key_message_pump(void) noexcept {
  return guard(int16_t{0}, [] { return lvx::pump_key_events(); });
}

int16_t message_pump(void) noexcept {
  return guard(int16_t{0}, [] { return lvx::pump_input_events(); });
}

void pump_delay(uint32_t delay) noexcept {
  guard_void([&] { lvx::pump_for(delay); });
}

// ---- The key queue ----

uint32_t read_getkey_queue(void) noexcept {
  return guard(uint32_t{0}, [] { return lvx::read_key(); });
}

uint32_t getkey(void) noexcept {
  return guard(uint32_t{0}, [] { return lvx::pump_and_read_key(nullptr); });
}

uint32_t getkey_with_mod(uint16_t *word) noexcept {
  return guard(uint32_t{0}, [&] { return lvx::pump_and_read_key(word); });
}

uint32_t echo_key(void) noexcept {
  return guard(uint32_t{0}, [] { return lvx::pump_and_echo_key(); });
}

int16_t flush_getkey_queue(void) noexcept {
  return guard(int16_t{0}, [] {
    lvx::keyboard().flush();
    return int16_t{0};
  });
}

// ---- Break, escape and the terminated flag ----

int16_t escape_pressed(void) noexcept {
  return guard(int16_t{0}, [] { return lvx::escape_key_pressed(); });
}

int16_t break_pressed(void) noexcept {
  return guard(int16_t{0}, [] { return lvx::break_key_pressed(); });
}

void terminal_break(int16_t flag) noexcept {
  guard_void([&] { lvx::set_terminal_break(flag != 0); });
}

int16_t application_terminated(void) noexcept {
  return guard(int16_t{0}, [] { return lvx::keyboard().terminated(); });
}

// ---- Other input events ----

int16_t lumavex_peep_input_event(InputEvent *out, uint8_t mask) noexcept {
  return guard(int16_t{0}, [&] {
    return lvx::peep_input_event(out, mask, /*newest=*/false) ? int16_t{1} : int16_t{0};
  });
}

int16_t lumavex_get_input_event(InputEvent *out, uint8_t mask) noexcept {
  return guard(int16_t{0},
               [&] { return lvx::take_input_event(out, mask) ? int16_t{1} : int16_t{0}; });
}

int16_t lumavex_peep_last_input_event(InputEvent *out, uint8_t mask) noexcept {
  return guard(int16_t{0}, [&] {
    return lvx::peep_input_event(out, mask, /*newest=*/true) ? int16_t{1} : int16_t{0};
  });
}

void lumavex_flush_input_event(void) noexcept {
  guard_void([] { lvx::flush_input_events(); });
}

}  // extern "C"
