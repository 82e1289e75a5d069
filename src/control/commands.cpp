#include "control/commands.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "common/byte_io.h"
#include "control/command_text.h"
#include "control/control_state.h"
#include "link/clock.h"
#include "link/link_state.h"
#include "link/log.h"
#include "link/packets.h"
#include "link/transport.h"

namespace lvx {

namespace {

constexpr uint16_t kIdleMode = 1;
// A formatted command waits this long in all for the answers to its pieces.
constexpr uint32_t kFormattedCommandWaitMs = 5000;

}  // namespace

void ResultRing::seed() {
  for (Slot &s : slots_) s = Slot{};
  index_ = 0;
}

ResultRing::Slot ResultRing::push(uint32_t serial) {
  index_ = (index_ + 1) % kResultRingSize;
  Slot previous = slots_[index_];
  slots_[index_] = Slot{serial, NO_REPLY};
  return previous;
}

void ResultRing::retract(uint32_t serial, Slot previous) {
  if (index_ >= 0 && slots_[index_].serial == serial) {
    slots_[index_] = previous;
    index_ = (index_ + kResultRingSize - 1) % kResultRingSize;
    return;
  }
  int i = find(serial);
  if (i >= 0) slots_[i] = Slot{};
}

// Searches from the newest slot back to slot 0, then from slot 99 down to the one after the
// newest, so that the most recent use of a serial wins.
int ResultRing::find(uint32_t serial) const {
  if (index_ < 0) return -1;
  for (int i = index_; i >= 0; --i)
    if (slots_[i].serial == serial) return i;
  for (int i = kResultRingSize - 1; i > index_; --i)
    if (slots_[i].serial == serial) return i;
  return -1;
}

bool ResultRing::file(uint32_t serial, int16_t result) {
  if (index_ < 0) return false;
  if (slots_[index_].serial - serial > kLateResultWindow) return false;
  int i = find(serial);
  if (i < 0) return false;
  slots_[i].result = result;
  return true;
}

int16_t ResultRing::lookup(uint32_t serial) const {
  if (index_ < 0) return NO_REPLY;
  if (serial == 0) return slots_[index_].result;
  int i = find(serial);
  return i < 0 ? int16_t{NO_REPLY} : slots_[i].result;
}

void seed_command_serial(uint32_t start) {
  LinkLockGuard lock;
  command_channel().serial = start;
  command_channel().ring.seed();
}

std::vector<uint8_t> encode_command_packet(uint32_t serial, uint8_t type, const char *text,
                                           uint32_t value) {
  size_t text_length = text != nullptr ? std::strlen(text) + 1 : 0;
  size_t data_length = type == CMD_IMAGE_ACK && text == nullptr ? 1 : text_length;
  std::vector<uint8_t> packet(cmd_pkt::kOverhead + data_length, 0);
  MutableBytes b(packet);
  encode_plain_header(b, COMMAND_PKT);
  put_u32(b, cmd_pkt::kSerial, serial);
  put_u32(b, cmd_pkt::kValue, value);
  put_u8(b, cmd_pkt::kType, type);
  put_u16(b, cmd_pkt::kDataLength, static_cast<uint16_t>(data_length));
  if (text_length > 0) std::memcpy(packet.data() + cmd_pkt::kData, text, text_length);
  return packet;
}

// The serial is taken and its ring slot written under the link lock, but the packet is sent
// after the lock is released: the receive thread needs the lock to file the answer, and a
// tracker on the same machine can answer before the sending thread has left the send call. The
// slot exists before the packet leaves, so an early answer always finds it; a failed send takes
// the slot back, leaving the ring as it was. The channel's send lock, held from the draw to the
// end of the send, keeps two senders from overtaking each other between the two: the tracker
// sees the serials in the order they were drawn.
int64_t send_cmd_pkt(uint8_t type, const char *text, uint32_t value, const LVXADDR &dest,
                     SerialDrawn on_drawn, void *context) {
  if (dummy_mode()) return 0;
  CommandChannel &c = command_channel();
  std::lock_guard sending(c.send_lock);
  uint32_t serial;
  ResultRing::Slot previous;
  {
    LinkLockGuard lock;
    if (!c.ring.seeded()) {
      c.serial = 1;
      c.ring.seed();
    }
    serial = ++c.serial;
    previous = c.ring.push(serial);
    if (on_drawn != nullptr) on_drawn(serial, context);
  }
  std::vector<uint8_t> packet = encode_command_packet(serial, type, text, value);
  int16_t r = xlink_send(&dest, packet.data(), static_cast<int>(packet.size()));
  lvx::log_printf("Sent cmd type=%d result=%d current time = %d '%s' \n", type, r,
                  static_cast<int>(lvx::local_ms()), text != nullptr ? text : "no text");
  if (r != 0) {
    LinkLockGuard lock;
    c.ring.retract(serial, previous);
    return LINK_TERMINATED_RESULT;
  }
  return serial;
}

void file_command_result(uint32_t serial, int16_t result, const char *text, int text_length) {
  CommandChannel &c = command_channel();
  c.ring.file(serial, result);
  c.filed.fetch_add(1, std::memory_order_release);
  constexpr int kMaxText = static_cast<int>(sizeof c.last_text) - 1;
  int n = text_length < 0 ? 0 : (text_length > kMaxText ? kMaxText : text_length);
  if (text != nullptr && n > 0) std::memcpy(c.last_text, text, static_cast<size_t>(n));
  c.last_text[n] = '\0';
}

int16_t get_command_result_for_sn(uint32_t serial) {
  LinkLockGuard lock;
  return command_channel().ring.lookup(serial);
}

int16_t wait_for_result(uint32_t serial, uint32_t msec) {
  CommandChannel &c = command_channel();
  uint32_t start = lvx::local_ms();
  const bool connected = link_record().is_connected != 0;
  uint32_t seen = c.filed.load(std::memory_order_acquire);
  int16_t r = get_command_result_for_sn(serial);
  if (r != NO_REPLY) return r;

  while (lvx::local_ms() - start <= msec) {
    r = get_command_result_for_sn(serial);
    if (r != NO_REPLY) return r;
    // The link went down under the wait (a broken TCP stream): no answer can come.
    if (connected && link_record().is_connected == 0) return LINK_TERMINATED_RESULT;
    seen = c.filed.load(std::memory_order_acquire);
    wait_for_packet_unless([&] { return c.filed.load(std::memory_order_acquire) != seen; });
  }
  return NO_REPLY;
}

namespace {

// What the common sending step produced: a serial whose result the caller may wait for, or a
// final value (0 when skipped or sent in dummy mode, -3, -100, or a waited command's result).
struct SendOutcome {
  int64_t value;
  bool is_serial;
};

// Sends a type-22 command to the tracker, clearing the mode-ready latch first so that a later
// mode wait sees only the change this command causes.
int64_t send_tracker_command(const char *text) {
  LinkRecord &r = link_record();
  LVXADDR to;
  {
    LinkLockGuard lock;
    r.mode_ready = 0;
    to = r.tracker_address;
  }
  return send_cmd_pkt(CMD_COMMAND, text, 0, to);
}

// The common sending step: applies the rules that skip a command, sends it, and for the two
// kinds of waited command waits for the result before returning.
//
// A waited command whose send fails returns the failure at once rather than waiting out the
// time-out for a serial that was never sent, and its result (whatever the tracker answered, or
// NO_REPLY) is final: the caller does not wait a second time. `wait_cap_ms` shortens that wait
// (0: the result as it stands once sent, without waiting).
SendOutcome send_command_step(const char *text, uint32_t wait_cap_ms = UINT32_MAX) {
  LinkRecord &r = link_record();
  WaitedCommand kind = WaitedCommand::kNone;
  if (r.is_connected < 0 || dummy_mode() || quiet_level() != 0) return {0, false};
  if (r.is_connected == 0) return {LINK_TERMINATED_RESULT, false};
  if (text == nullptr || static_cast<int>(std::strlen(text)) + 1 > max_text_length()) {
    return {kBadText, false};
  }
  if (equals_nocase(text, "set_idle_mode") && r.mode_word == kIdleMode) return {0, false};
  kind = classify_command(text, r.is_gen4);
  if (kind == WaitedCommand::kNone) {
    int64_t v = send_tracker_command(text);
    return {v, v > 0};
  }

  lvx::log_printf("Sending and waiting for up to 10 seconds for '%s' to complete.\n", text);
  int64_t v = send_tracker_command(text);
  if (v <= 0) {
    lvx::log_printf("Finished sending '%s', result: %d.\n", text, static_cast<int>(v));
    return {v, false};
  }
  const uint32_t wait_ms = std::min<uint32_t>(waited_command_timeout_ms(kind), wait_cap_ms);
  lvx::log_printf("Waiting %ums for response from command %s.\n", wait_ms, text);
  const auto serial = static_cast<uint32_t>(v);
  int16_t result =
      wait_ms > 0 ? wait_for_result(serial, wait_ms) : get_command_result_for_sn(serial);
  lvx::log_printf("Got response for command %s.\n", text);
  lvx::log_printf("Finished sending '%s', result: %d.\n", text, result);
  return {result, false};
}

}  // namespace

int16_t timed_command(uint32_t msec, const char *text) {
  SendOutcome o = send_command_step(text);
  if (!o.is_serial) return static_cast<int16_t>(o.value);
  return wait_for_result(static_cast<uint32_t>(o.value), msec);
}

int16_t send_command(const char *text) {
  SendOutcome o = send_command_step(text);
  return static_cast<int16_t>(o.is_serial || o.value > 0 ? 0 : o.value);
}

int16_t command_result() {
  if (dummy_mode()) return 0;
  if (!system_open()) return LINK_TERMINATED_RESULT;
  return get_command_result_for_sn(0);
}

int16_t send_command_pieces(const char *text) {
  const uint32_t start = lvx::local_ms();
  int16_t result = 0;
  for (const std::string &piece : command_pieces(text, max_text_length())) {
    const uint32_t spent = lvx::local_ms() - start;
    const uint32_t left = spent < kFormattedCommandWaitMs ? kFormattedCommandWaitMs - spent : 0;
    const SendOutcome o = send_command_step(piece.c_str(), left);
    if (!o.is_serial) {
      result = static_cast<int16_t>(o.value);
      continue;
    }
    const auto serial = static_cast<uint32_t>(o.value);
    result = left > 0 ? wait_for_result(serial, left) : get_command_result_for_sn(serial);
  }
  return result;
}

int16_t last_command_message(char *buf) {
  if (dummy_mode() || !system_open()) return 0;
  LinkLockGuard lock;
  const char *text = command_channel().last_text;
  size_t n = std::strlen(text);
  if (buf != nullptr) std::memcpy(buf, text, n + 1);
  return static_cast<int16_t>(n);
}

}  // namespace lvx
