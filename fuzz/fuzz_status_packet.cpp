// Feeds arbitrary bytes to the status-packet handler over a scratch control record, as the receive
// walk hands it a STATUS_PKT and whatever follows it in the datagram. The first input byte decides
// which requests are pending: bit 0 a read request, bit 1 a time request, each under the serial
// the packet carries, so that replies are taken as well as refused. Command results go to the
// process-wide command channel, seeded once.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/wire_reader.h"
#include "control/commands.h"
#include "control/control_state.h"
#include "control/status.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  static const bool ready = [] {
    lvx::seed_command_serial(1000);
    return true;
  }();
  (void)ready;
  const uint8_t mode = data[0];
  const lvx::Bytes packet(data + 1, size - 1);
  lvx::WireReader fields(packet);
  const uint32_t serial = fields.u32_at(lvx::status_pkt::kSerial);  // 0 when cut
  auto *s = new lvx::ControlState;
  if (mode & 1) {
    s->request_serial = serial;
    s->reply_state = lvx::kNoReplyYet;
  }
  if (mode & 2) s->time_serial = serial;
  const int used = lvx::apply_status_packet(*s, packet);
  // Too short for its fields: nothing used and nothing changed; else what its type counts for.
  if (packet.size() < lvx::status_pkt::kText) {
    if (used != 0 || s->reply_state != lvx::kNoReplyYet || s->tracker_time != 0) __builtin_trap();
  } else {
    const uint16_t type = fields.u16_at(lvx::status_pkt::kType);
    const int length = fields.u16_at(lvx::status_pkt::kTextLength);
    if (used != lvx::status_packet_size(type, length)) __builtin_trap();
  }
  // The texts always end inside their fields.
  if (std::memchr(s->reply_text, 0, sizeof s->reply_text) == nullptr) __builtin_trap();
  if (std::memchr(s->cal_message, 0, sizeof s->cal_message) == nullptr) __builtin_trap();
  delete s;
  return 0;
}
