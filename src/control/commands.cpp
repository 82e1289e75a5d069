#include "control/commands.h"

#include <strings.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/byte_io.h"
#include "link/clock.h"
#include "link/lifecycle.h"
#include "link/link_state.h"
#include "link/packets.h"
#include "link/transport.h"

namespace lvx {

namespace {

constexpr size_t kCommandOverhead = 30;
constexpr uint16_t kIdleMode = 1;
constexpr int16_t kBadText = -3;
constexpr uint32_t kOfflineWaitMs = 1000;

// The command channel's process-wide record. The ring and the last result text are guarded by
// the link lock (the receive thread files results while holding it); the serial counter is
// advanced only under the same lock.
struct CommandChannel {
  uint32_t serial = 1;
  ResultRing ring;
  char last_text[200] = {};
};

CommandChannel &channel() {
  static CommandChannel c;
  return c;
}

}  // namespace

void ResultRing::seed() {
  for (Slot &s : slots_) s = Slot{};
  index_ = 0;
}

void ResultRing::push(uint32_t serial) {
  index_ = (index_ + 1) % kResultRingSize;
  slots_[index_] = Slot{serial, NO_REPLY};
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
  channel().serial = start;
  channel().ring.seed();
}

int64_t send_cmd_pkt(uint8_t type, const char *text, uint32_t value, const LVXADDR &dest) {
  if (dummy_mode()) return 0;
  CommandChannel &c = channel();
  size_t text_length = text != nullptr ? std::strlen(text) + 1 : 0;
  size_t data_length = type == CMD_IMAGE_ACK && text == nullptr ? 1 : text_length;
  std::vector<uint8_t> packet(kCommandOverhead + data_length, 0);
  MutableBytes b(packet);
  encode_plain_header(b, COMMAND_PKT);
  put_u32(b, 20, value);
  put_u8(b, 25, type);
  put_u16(b, 26, static_cast<uint16_t>(data_length));
  if (text_length > 0) std::memcpy(packet.data() + 28, text, text_length);

  LinkLockGuard lock;
  if (!c.ring.seeded()) {
    c.serial = 1;
    c.ring.seed();
  }
  uint32_t serial = ++c.serial;
  put_u32(b, hdr::kSequence, serial);
  int16_t r = xlink_send(&dest, packet.data(), static_cast<int>(packet.size()));
  add_to_lumavex_log("Sent cmd type=%d result=%d current time = %d '%s' \n", type, r,
                     static_cast<int>(current_time()), text != nullptr ? text : "no text");
  if (r != 0) return LINK_TERMINATED_RESULT;
  c.ring.push(serial);
  return serial;
}

void file_command_result(uint32_t serial, int16_t result, const char *text, int text_length) {
  CommandChannel &c = channel();
  c.ring.file(serial, result);
  int n = text_length < 0 ? 0 : (text_length > 199 ? 199 : text_length);
  if (text != nullptr && n > 0) std::memcpy(c.last_text, text, static_cast<size_t>(n));
  c.last_text[n] = '\0';
}

int16_t wait_for_result(uint32_t serial, uint32_t msec) {
  uint32_t start = current_time();
  while (current_time() - start <= msec) {
    int16_t r;
    {
      LinkLockGuard lock;
      r = channel().ring.lookup(serial);
    }
    if (r != NO_REPLY) return r;
    wait_for_packet();
  }
  return NO_REPLY;
}

namespace {

// The common sending step: applies the rules that skip a command, then sends it. Returns the
// serial (> 0), 0 when skipped, -3 for a bad text, -100 when not connected or the send failed.
int64_t send_command_step(const char *text) {
  LinkRecord &r = link_record();
  if (r.is_connected < 0 || dummy_mode() || quiet_level() != 0) return 0;
  if (r.is_connected == 0) return LINK_TERMINATED_RESULT;
  if (text == nullptr || static_cast<int>(std::strlen(text)) + 1 > max_text_length()) {
    return kBadText;
  }
  if (strcasecmp(text, "set_idle_mode") == 0 && r.mode_word == kIdleMode) return 0;
  LinkLockGuard lock;
  r.mode_ready = 0;
  return send_cmd_pkt(CMD_COMMAND, text, 0, r.tracker_address);
}

}  // namespace

}  // namespace lvx

extern "C" {

int16_t lumavex_send_command(const char *text) {
  int64_t v = lvx::send_command_step(text);
  return static_cast<int16_t>(v <= 0 ? v : 0);
}

int16_t lumavex_timed_command(uint32_t msec, const char *text) {
  int64_t v = lvx::send_command_step(text);
  if (v <= 0) return static_cast<int16_t>(v);
  return lvx::wait_for_result(static_cast<uint32_t>(v), msec);
}

int16_t lumavex_command_result(void) {
  if (lvx::dummy_mode()) return 0;
  if (!lvx::system_open()) return LINK_TERMINATED_RESULT;
  lvx::LinkLockGuard lock;
  return lvx::channel().ring.lookup(0);
}

int16_t set_offline_mode(void) {
  lvx::LinkRecord &r = lvx::link_record();
  if (lvx::dummy_mode()) {
    r.mode_word = lvx::kIdleMode;
    return 0;
  }
  if (lvx::quiet_level() != 0 || r.mode_word == lvx::kIdleMode) return 0;
  return lumavex_timed_command(lvx::kOfflineWaitMs, "set_idle_mode");
}

}  // extern "C"
