#include "control/messages.h"

#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>

#include "common/byte_io.h"
#include "control/control_state.h"
#include "control/message_split.h"
#include "link/clock.h"
#include "link/link_state.h"
#include "link/log.h"
#include "link/packets.h"
#include "link/transport.h"
#include "link/user_calls.h"
#include "relay/relay.h"

namespace lvx {

namespace {

constexpr int16_t kBadParameter = -1;

LongMessageId next_long_id() {
  MessageChannel &c = message_channel();
  std::lock_guard lock(c.long_id_lock);
  if (c.long_id.random == 0) c.long_id.random = static_cast<uint32_t>(std::rand() % 255);
  ++c.long_id.count;
  return c.long_id;
}

void pace() {
  MessageChannel &c = message_channel();
  std::lock_guard lock(c.pace_lock);
  if (c.pacer.admit(lvx::local_ms())) {
    lvx::delay_ms(1);
    c.pacer.restart(lvx::local_ms());
  }
}

// Routes a message: to the relay when connected through it, else to the tracker (or, while not
// connected, to the configured tracker node; the link sends nothing while it is not open).
int16_t route_message(const char *text, double message_time_us) {
  if (dummy_mode()) return 0;
  if (text == nullptr) return kBadText;
  LinkRecord &r = link_record();
  int16_t connected = r.is_connected;
  if (connected < 0) return static_cast<int16_t>(relay_send_message(text, message_time_us));
  LVXADDR dest;
  {
    LinkLockGuard lock;
    dest = connected != 0 ? r.tracker_address : r.tracker_node;
  }
  return msg_core(dest, text, message_time_us);
}

}  // namespace

std::vector<uint8_t> encode_message_packet(uint32_t serial, int32_t offset_ms,
                                           std::string_view text) {
  std::vector<uint8_t> packet(msg_pkt::kOverhead + text.size(), 0);
  MutableBytes b(packet);
  encode_plain_header(b, MESSAGE_PKT);
  put_u32(b, msg_pkt::kSerial, serial);
  put_u32(b, msg_pkt::kOffset, static_cast<uint32_t>(offset_ms));
  put_u8(b, msg_pkt::kKind, msg_pkt::kPlainMessage);
  put_u16(b, msg_pkt::kTextLength, static_cast<uint16_t>(text.size() + 1));
  if (!text.empty()) std::memcpy(packet.data() + msg_pkt::kText, text.data(), text.size());
  return packet;
}

int32_t message_offset_ms(double message_time_us, double now_us) {
  double offset = std::trunc((message_time_us - now_us) * 0.001 + 0.5);
  constexpr double kLow = std::numeric_limits<int32_t>::min();
  constexpr double kHigh = std::numeric_limits<int32_t>::max();
  if (!(offset >= kLow)) return std::numeric_limits<int32_t>::min();
  if (offset > kHigh) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(offset);
}

int16_t msg_core_impl(const LVXADDR &dest, std::string_view text, double message_time_us) {
  if (dummy_mode() || quiet_level() > 1) return 0;
  if (static_cast<int>(text.size()) + 1 > max_text_length()) return kBadText;
  uint32_t serial = message_channel().serial.fetch_add(1);
  std::vector<uint8_t> packet = encode_message_packet(serial, 0, text);
  lvx::log_printf("msg_core_impl: size=%d msg='%.*s'\n", static_cast<int>(packet.size()),
                  static_cast<int>(text.size()), text.data());
  pace();
  MutableBytes b(packet);
  put_u32(b, msg_pkt::kOffset,
          static_cast<uint32_t>(message_offset_ms(message_time_us, lvx::local_double_usec())));
  return xlink_send(&dest, packet.data(), static_cast<int>(packet.size()));
}

int16_t msg_core(const LVXADDR &dest, std::string_view text, double message_time_us) {
  MessageSink sink;
  sink.send = [&](std::string_view piece) { return msg_core_impl(dest, piece, message_time_us); };
  sink.next_long_id = next_long_id;
  return static_cast<int16_t>(split_and_send(text, max_text_length(), sink));
}

double message_time_after(int32_t exectime_ms) {
  return lvx::local_double_usec() + exectime_ms * 1000.0;
}

int16_t send_message(const char *text, double message_time_us) {
  std::lock_guard lock(message_channel().message_lock);
  return route_message(text, message_time_us);
}

int16_t send_node_message(const LVXADDR *node, const char *text, double message_time_us) {
  if (dummy_mode()) return 0;
  if (!system_open()) return LINK_TERMINATED_RESULT;
  if (node == nullptr) return kBadParameter;
  if (text == nullptr) return kBadText;
  return msg_core(*node, text, message_time_us);
}

std::string format_message(const char *format, va_list args) {
  va_list measure;
  va_copy(measure, args);
  int n = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (n <= 0) return {};
  std::string text(static_cast<size_t>(n), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, args);
  return text;
}

}  // namespace lvx
