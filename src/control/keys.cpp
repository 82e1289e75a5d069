#include "control/keys.h"

#include "common/wire_reader.h"
#include "control/control_state.h"
#include "control/input.h"
#include "control/requests.h"
#include "link/link_state.h"
#include "link/log.h"
#include "link/packets.h"
#include "link/transport.h"
#include "lumavex_core.h"

namespace lvx {

namespace {

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
  put_u16(b, key_pkt::kCode, button ? 0 : code);
  put_u16(b, key_pkt::kModifiers, button ? 0 : mods);
  put_u8(b, key_pkt::kState, state);
  put_u8(b, key_pkt::kButton, button ? static_cast<uint8_t>(mods) : 0);
  return packet;
}

int apply_key_packet(ControlState &s, Bytes packet) {
  WireReader r(packet);
  const uint32_t time = r.u32_at(key_pkt::kTime);
  const uint16_t code = r.u16_at(key_pkt::kCode);
  const uint16_t modifiers = r.u16_at(key_pkt::kModifiers);
  const uint8_t state = r.u8_at(key_pkt::kState);
  const uint8_t button = r.u8_at(key_pkt::kButton);
  if (!r.ok()) {
    log_printf("Key packet of %d bytes is too short, dropped\n", static_cast<int>(packet.size()));
    return 0;
  }

  if (code == kFlushKeyCode) {
    s.keys.clear();
    s.button_states = static_cast<uint16_t>(modifiers & 0xFF);
    s.button_change_time = time;
    s.button_change = 0;
    return key_pkt::kKeyUsed;
  }
  if (button == 0) {
    // The raw code is read when the buffer holds it; the tracker's 30-byte key packets end before
    // it, and then it is 0.
    const uint16_t raw = r.has(key_pkt::kRaw, 2) ? r.u16_at(key_pkt::kRaw) : uint16_t{0};
    s.keys.push(
        TrackerKey{static_cast<int16_t>(code), static_cast<uint8_t>(modifiers), state, raw, time});
    return key_pkt::kKeyUsed;
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
  return r.has(0, key_pkt::kButtonUsed) ? key_pkt::kButtonUsed : 0;
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
  set_terminal_break(false);
}

int handle_key_packet(const LVXADDR & /*sender*/, Bytes packet) {
  return apply_key_packet(control_state(), packet);
}

int16_t send_keybutton(uint16_t code, uint16_t mods, uint8_t state) {
  LinkRecord &r = link_record();
  if (r.is_connected < 0 || dummy_mode() || quiet_level() > 1) return 0;
  if (r.is_connected == 0) return LINK_TERMINATED_RESULT;
  auto packet = encode_key_packet(code, mods, state);
  log_printf("lumavex_send_keybutton: size=%d\n", static_cast<int>(packet.size()));
  return send_to_tracker(packet.data(), static_cast<int>(packet.size()));
}

int16_t flush_keybuttons(bool enable_buttons) {
  LinkRecord &r = link_record();
  if (r.is_connected < 0 || dummy_mode()) return 0;
  int16_t result = LINK_TERMINATED_RESULT;
  if (r.is_connected != 0) {
    auto packet = encode_key_packet(kFlushKeyCode, 0, 0);
    result = send_to_tracker(packet.data(), static_cast<int>(packet.size()));
  }
  LinkLockGuard lock;
  ControlState &s = control_state();
  s.last_button = 0;
  s.button_change = 0;
  s.buttons_as_keys = enable_buttons;
  s.keys.clear();
  return result;
}

uint16_t tracker_button_states() {
  if (!system_open()) return 0;
  return control_state().button_states;
}

uint16_t take_button_change(uint32_t *time) {
  return take_button_record(&ControlState::button_change, &ControlState::button_change_time, time);
}

uint16_t take_last_button_press(uint32_t *time) {
  return take_button_record(&ControlState::last_button, &ControlState::last_button_time, time);
}

uint16_t read_tracker_key(int16_t *mods, int16_t *state, uint16_t *kcode, uint32_t *time) {
  if (!system_open()) return 0;
  TrackerKey k;
  {
    LinkLockGuard lock;
    if (!control_state().keys.pop(&k)) return 0;
  }
  if (mods != nullptr) *mods = k.modifiers;
  // The state byte is signed on the wire: 255 is a button release.
  if (state != nullptr) *state = k.state == 255 ? int16_t{-1} : int16_t{k.state};
  if (kcode != nullptr) *kcode = k.raw;
  if (time != nullptr) *time = k.time;
  return static_cast<uint16_t>(k.code);
}

}  // namespace lvx
