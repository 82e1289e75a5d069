#include "control/keys.h"

#include "control/control_state.h"
#include "control/requests.h"
#include "link/link_state.h"
#include "link/log.h"
#include "link/packets.h"
#include "link/transport.h"
#include "lumavex_core.h"

namespace lvx {

namespace {

// KEY_PKT field offsets after the header.
constexpr size_t kTime = 20, kCode = 24, kModifiers = 26, kState = 28, kButton = 29, kRaw = 30;
// Bytes a received key or flush echo counts for, and a received button packet.
constexpr int kKeyUsed = 30;
constexpr int kButtonUsed = 32;

constexpr int8_t kButtonPressed = 10;
constexpr int8_t kButtonReleased = -1;
constexpr uint8_t kButtonCount = 15;
constexpr uint16_t kButtonChanged = 0x100;

// Reads one of the two button records (the state change or the last press) with its time. Both
// report the same press, so reading either clears both. 0 when there is nothing to read.
uint16_t take_button_record(uint16_t ControlState::*value, uint32_t ControlState::*stamp,
                            uint32_t *time) {
  if (!system_open()) return 0;
  LinkLockGuard lock;
  ControlState &s = control_state();
  uint16_t v = s.*value;
  if (v == 0) return 0;
  if (time != nullptr) *time = s.*stamp;
  s.button_change = 0;
  s.last_button = 0;
  return v;
}

}  // namespace

std::array<uint8_t, kKeyPacketSize> encode_key_packet(uint16_t code, uint16_t mods, uint8_t state) {
  std::array<uint8_t, kKeyPacketSize> packet{};
  MutableBytes b(packet);
  encode_plain_header(b, KEY_PKT);
  bool button = code == kButtonKeyCode;
  put_u16(b, kCode, button ? 0 : code);
  put_u16(b, kModifiers, button ? 0 : mods);
  put_u8(b, kState, state);
  put_u8(b, kButton, button ? static_cast<uint8_t>(mods) : 0);
  return packet;
}

int apply_key_packet(ControlState &s, Bytes packet) {
  if (packet.size() < static_cast<size_t>(kKeyUsed)) return 0;
  uint32_t time = get_u32(packet, kTime);
  uint16_t code = get_u16(packet, kCode);
  uint16_t modifiers = get_u16(packet, kModifiers);
  uint8_t state = get_u8(packet, kState);
  uint8_t button = get_u8(packet, kButton);

  if (code == kFlushKeyCode) {
    s.keys.clear();
    s.button_states = static_cast<uint16_t>(modifiers & 0xFF);
    s.button_change_time = time;
    s.button_change = 0;
    return kKeyUsed;
  }
  if (button == 0) {
    s.keys.push(TrackerKey{static_cast<int16_t>(code), static_cast<uint8_t>(modifiers), state,
                           get_u16(packet, kRaw), time});
    return kKeyUsed;
  }

  if (button <= kButtonCount) {
    auto bit = static_cast<uint16_t>(1u << (button - 1));
    auto signed_state = static_cast<int8_t>(state);
    if (signed_state == kButtonPressed || signed_state == kButtonReleased) {
      uint16_t states = s.button_states;
      states = signed_state == kButtonPressed ? static_cast<uint16_t>(states | bit)
                                              : static_cast<uint16_t>(states & ~bit);
      s.button_states = states;
      s.button_change = static_cast<uint16_t>(states | kButtonChanged);
      s.button_change_time = time;
      if (signed_state == kButtonPressed) {
        s.last_button = button;
        s.last_button_time = time;
      }
    }
  }
  if (s.buttons_as_keys) s.keys.push(TrackerKey{kButtonAsKeyCode, button, state, 0, time});
  // The button packet's last two bytes are not needed; when they are missing the packet still
  // counts as the rest of the buffer rather than reaching past it.
  return packet.size() >= static_cast<size_t>(kButtonUsed) ? kButtonUsed : 0;
}

void clear_key_state() {
  ControlState &s = control_state();
  s.keys.clear();
  s.button_states = 0;
  s.button_change = 0;
  s.button_change_time = 0;
  s.last_button = 0;
  s.last_button_time = 0;
}

void clear_terminal_break() {
  terminal_break(0);
}

int handle_key_packet(const LVXADDR & /*sender*/, Bytes packet) {
  if (packet.empty()) return 0;
  return apply_key_packet(control_state(), packet);
}

}  // namespace lvx

using lvx::control_state;
using lvx::link_record;

extern "C" {

int16_t lumavex_send_keybutton(uint16_t code, uint16_t mods, uint8_t state) noexcept {
  lvx::LinkRecord &r = link_record();
  if (r.is_connected < 0 || lvx::dummy_mode() || lvx::quiet_level() > 1) return 0;
  if (r.is_connected == 0) return LINK_TERMINATED_RESULT;
  auto packet = lvx::encode_key_packet(code, mods, state);
  lvx::log_printf("lumavex_send_keybutton: size=%d\n", static_cast<int>(packet.size()));
  return lvx::send_to_tracker(packet.data(), static_cast<int>(packet.size()));
}

int16_t lumavex_flush_keybuttons(int16_t enable_buttons) noexcept {
  lvx::LinkRecord &r = link_record();
  if (r.is_connected < 0 || lvx::dummy_mode()) return 0;
  int16_t result = LINK_TERMINATED_RESULT;
  if (r.is_connected != 0) {
    auto packet = lvx::encode_key_packet(lvx::kFlushKeyCode, 0, 0);
    result = lvx::send_to_tracker(packet.data(), static_cast<int>(packet.size()));
  }
  lvx::LinkLockGuard lock;
  lvx::ControlState &s = control_state();
  s.last_button = 0;
  s.button_change = 0;
  s.buttons_as_keys = enable_buttons != 0;
  s.keys.clear();
  return result;
}

uint16_t lumavex_button_states(void) noexcept {
  if (!lvx::system_open()) return 0;
  return control_state().button_states;
}

uint16_t lumavex_last_button_states(uint32_t *time) noexcept {
  return lvx::take_button_record(&lvx::ControlState::button_change,
                                 &lvx::ControlState::button_change_time, time);
}

uint16_t lumavex_read_keybutton(int16_t *mods, int16_t *state, uint16_t *kcode,
                                uint32_t *time) noexcept {
  if (!lvx::system_open()) return 0;
  lvx::TrackerKey k;
  {
    lvx::LinkLockGuard lock;
    if (!control_state().keys.pop(&k)) return 0;
  }
  if (mods != nullptr) *mods = k.modifiers;
  // The state byte is signed on the wire: 255 is a button release.
  if (state != nullptr) *state = k.state == 255 ? int16_t{-1} : int16_t{k.state};
  if (kcode != nullptr) *kcode = k.raw;
  if (time != nullptr) *time = k.time;
  return static_cast<uint16_t>(k.code);
}

uint16_t lumavex_last_button_press(uint32_t *time) noexcept {
  return lvx::take_button_record(&lvx::ControlState::last_button,
                                 &lvx::ControlState::last_button_time, time);
}

}  // extern "C"
