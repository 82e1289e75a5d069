// Feeds arbitrary bytes to a relay master as one slave's stream: the first input byte picks the
// size of the pieces it arrives in (1..256 bytes), the rest is the stream. The pieces go through
// the record reader and each record through the parser, as the master's message thread takes
// them. Every record must lie within the reader's room; every record parsed must give the same
// fields when written again and parsed again; and the time the master would stamp a message with
// must lie within half the 32-bit millisecond range of its own clock.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "relay/relay_framing.h"

namespace {

using lvx::Bytes;
using lvx::SlaveRecord;
using lvx::SlaveRecordKind;

// The record written again from its fields.
std::optional<std::string> rewritten(const SlaveRecord &r) {
  switch (r.kind) {
    case SlaveRecordKind::kOpen:
      return lvx::format_open_record(r.pid);
    case SlaveRecordKind::kClose:
      return lvx::format_close_record(r.pid);
    case SlaveRecordKind::kMessage:
      return lvx::format_message_record(r.pid, r.time_ms * 1000.0 + r.time_us, r.text);
    case SlaveRecordKind::kRequest:
      return lvx::format_request_record(r.pid, r.text);
  }
  return std::nullopt;
}

bool same(const SlaveRecord &a, const SlaveRecord &b) {
  return a.kind == b.kind && a.pid == b.pid && a.time_ms == b.time_ms && a.time_us == b.time_us &&
         a.text == b.text;
}

void check(Bytes record) {
  if (record.size() >= lvx::relay_rec::kRecordRoom) __builtin_trap();
  for (uint8_t b : record) {
    if (b == 0) __builtin_trap();
  }
  std::optional<SlaveRecord> r = lvx::parse_slave_record(record);
  if (!r) return;
  if (r->text.size() > lvx::relay_rec::kMaxText || r->time_us > 999) __builtin_trap();
  if (r->kind == SlaveRecordKind::kRequest && (r->time_ms != 0 || r->time_us != 0)) {
    // A request's time fields are placeholders; the master reads none, so nothing to compare.
    return;
  }
  std::optional<std::string> again = rewritten(*r);
  if (!again) __builtin_trap();
  std::optional<SlaveRecord> reparsed = lvx::parse_slave_record(
      Bytes(reinterpret_cast<const uint8_t *>(again->data()), again->size()));
  if (!reparsed || !same(*r, *reparsed)) __builtin_trap();
  if (r->kind == SlaveRecordKind::kMessage) {
    const double now = 3.0e12;
    const double when = lvx::slave_message_time_us(r->time_ms, r->time_us, now, false);
    if (!(when > now - 2147483648.0 * 1000.0 - 1000.0 && when < now + 2147483648.0 * 1000.0)) {
      __builtin_trap();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const size_t piece = static_cast<size_t>(data[0]) + 1;
  Bytes stream(data + 1, size - 1);
  lvx::SlaveRecordReader reader;
  for (size_t at = 0; at < stream.size(); at += piece) {
    reader.feed(stream.subspan(at, std::min(piece, stream.size() - at)),
                [](Bytes record, bool overlong) {
                  if (overlong && !record.empty()) __builtin_trap();
                  if (!overlong) check(record);
                });
  }
  return 0;
}
