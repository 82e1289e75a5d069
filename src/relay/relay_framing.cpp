#include "relay/relay_framing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "common/wire_reader.h"

namespace lvx {

namespace {

constexpr double kMsPerWrap = 4294967296.0;

// A field of `digits` hexadecimal digits at `off`; nothing when it is short or holds anything
// else.
std::optional<uint32_t> hex_at(WireReader &r, size_t off, size_t digits) {
  Bytes field = r.bytes_at(off, digits);
  if (field.size() != digits) return std::nullopt;
  uint32_t v = 0;
  for (uint8_t c : field) {
    int d = (c >= '0' && c <= '9')   ? c - '0'
            : (c >= 'a' && c <= 'f') ? c - 'a' + 10
            : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                     : -1;
    if (d < 0) return std::nullopt;
    v = v * 16 + static_cast<uint32_t>(d);
  }
  return v;
}

bool colon_at(WireReader &r, size_t off) {
  return r.has(off, 1) && r.u8_at(off) == ':';
}

bool tag_is(Bytes bytes, size_t at, std::string_view tag) {
  WireReader r(bytes);
  if (!r.has(at, tag.size())) return false;
  Bytes field = r.bytes_at(at, tag.size());
  return std::equal(field.begin(), field.end(), tag.begin(),
                    [](uint8_t b, char c) { return b == static_cast<uint8_t>(c); });
}

std::string record_with_text(std::string_view tag, uint32_t pid, uint32_t ms, uint32_t us,
                             std::string_view text) {
  char head[relay_rec::kText + 1];
  std::snprintf(head, sizeof head, "%.*s%08x:%08x:%04x:", static_cast<int>(tag.size()), tag.data(),
                pid, ms, us);
  std::string out(head);
  out.append(text);
  return out;
}

// The length of the longest end of `bytes` (from `from` on) that could be the start of a tag.
size_t cut_tag_at_end(Bytes bytes, size_t from) {
  const size_t len = bytes.size();
  for (size_t k = relay_rec::kTagLength - 1; k > 0; --k) {
    if (len < from + k) continue;
    const size_t at = len - k;
    if (tag_is(bytes, at, kPacketTag.substr(0, k)) || tag_is(bytes, at, kSerialTag.substr(0, k))) {
      return k;
    }
  }
  return 0;
}

// The first tag of either kind at or after `from`.
std::optional<size_t> find_tag(Bytes bytes, size_t from, bool *is_packet) {
  for (size_t at = from; at + relay_rec::kTagLength <= bytes.size(); ++at) {
    if (tag_is(bytes, at, kPacketTag)) {
      *is_packet = true;
      return at;
    }
    if (tag_is(bytes, at, kSerialTag)) {
      *is_packet = false;
      return at;
    }
  }
  return std::nullopt;
}

// Moves past a zero that follows a record.
size_t after_zero(Bytes bytes, size_t end) {
  WireReader r(bytes);
  return r.has(end, 1) && r.u8_at(end) == 0 ? end + 1 : end;
}

}  // namespace

std::string format_open_record(uint32_t pid) {
  char text[relay_rec::kShortRecord + 1];
  std::snprintf(text, sizeof text, "LV_OPN:%08x", pid);
  return text;
}

std::string format_close_record(uint32_t pid) {
  char text[relay_rec::kShortRecord + 1];
  std::snprintf(text, sizeof text, "LV_CLS:%08x", pid);
  return text;
}

std::optional<std::string> format_message_record(uint32_t pid, std::optional<double> time_us,
                                                 std::string_view text) {
  if (text.size() > relay_rec::kMaxText) return std::nullopt;
  uint32_t ms = 0;
  uint32_t us = 0;
  if (time_us && *time_us >= 1.0 && *time_us < 9.0e15) {
    // Whole milliseconds, kept to their low 32 bits as the field holds them, and the
    // microseconds within the millisecond, both cut toward zero (in whole microseconds, so that
    // no rounding of a fraction takes one off).
    const auto whole_us = static_cast<uint64_t>(*time_us);
    ms = static_cast<uint32_t>((whole_us / 1000) & 0xFFFFFFFFu);
    us = static_cast<uint32_t>(whole_us % 1000);
  }
  return record_with_text(kMessageTag, pid, ms, us, text);
}

std::optional<std::string> format_request_record(uint32_t pid, std::string_view text) {
  if (text.size() > relay_rec::kMaxText) return std::nullopt;
  return record_with_text(kRequestTag, pid, 0, 0, text);
}

std::optional<SlaveRecord> parse_slave_record(Bytes record) {
  WireReader r(record);
  SlaveRecord out;
  if (tag_is(record, 0, kOpenTag)) {
    out.kind = SlaveRecordKind::kOpen;
  } else if (tag_is(record, 0, kCloseTag)) {
    out.kind = SlaveRecordKind::kClose;
  } else if (tag_is(record, 0, kMessageTag)) {
    out.kind = SlaveRecordKind::kMessage;
  } else if (tag_is(record, 0, kRequestTag)) {
    out.kind = SlaveRecordKind::kRequest;
  } else {
    return std::nullopt;
  }
  std::optional<uint32_t> pid = hex_at(r, relay_rec::kPid, relay_rec::kPidDigits);
  if (!pid) return std::nullopt;
  out.pid = *pid;
  if (out.kind == SlaveRecordKind::kOpen || out.kind == SlaveRecordKind::kClose) return out;

  std::optional<uint32_t> ms = hex_at(r, relay_rec::kTimeMs, relay_rec::kTimeMsDigits);
  std::optional<uint32_t> us = hex_at(r, relay_rec::kTimeUs, relay_rec::kTimeUsDigits);
  if (!ms || !us || *us > 999 || !colon_at(r, relay_rec::kTimeMs - 1) ||
      !colon_at(r, relay_rec::kTimeUs - 1) || !colon_at(r, relay_rec::kText - 1)) {
    return std::nullopt;
  }
  out.time_ms = *ms;
  out.time_us = static_cast<uint16_t>(*us);
  Bytes text = r.bytes_at(relay_rec::kText, record.size() - relay_rec::kText);
  if (!r.ok()) return std::nullopt;
  out.text = std::string_view(reinterpret_cast<const char *>(text.data()), text.size());
  return out;
}

double slave_message_time_us(uint32_t time_ms, uint16_t time_us, double now_us,
                             bool ignore_slave_times) {
  if (ignore_slave_times || (time_ms == 0 && time_us == 0)) return now_us;
  const double now_ms = std::floor(now_us / 1000.0);
  const double now_low = std::fmod(now_ms, kMsPerWrap);
  double delta = static_cast<double>(time_ms) - now_low;
  if (delta > kMsPerWrap / 2) delta -= kMsPerWrap;
  if (delta < -kMsPerWrap / 2) delta += kMsPerWrap;
  return (now_ms + delta + time_us / 1000.0) * 1000.0;
}

void format_packet_head(uint32_t counter, uint32_t length, char (&head)[kPacketHeadSize + 1]) {
  std::snprintf(head, sizeof head, "LV_PKT:%08x:%08x:", counter, length);
}

std::string format_serial_record(uint32_t counter, uint32_t serial) {
  char text[relay_rec::kData + relay_rec::kSerialText + 1];
  std::snprintf(text, sizeof text, "LV_SER:%08x:%08x:SER=%08x:", counter,
                static_cast<uint32_t>(relay_rec::kSerialText), serial);
  return text;
}

RelayRecord next_relay_record(Bytes buffer, size_t from) {
  RelayRecord out;
  const size_t len = buffer.size();
  bool is_packet = false;
  std::optional<size_t> found = find_tag(buffer, from, &is_packet);
  if (!found) {
    out.kind = RelayRecordKind::kNone;
    out.start = out.next = len - cut_tag_at_end(buffer, from < len ? from : len);
    return out;
  }
  const size_t rec = *found;
  out.start = rec;
  WireReader r(buffer.subspan(rec));
  if (!r.has(0, relay_rec::kData)) {
    out.kind = RelayRecordKind::kNeedMore;
    return out;
  }
  std::optional<uint32_t> counter = hex_at(r, relay_rec::kCounter, relay_rec::kHexDigits);
  std::optional<uint32_t> length = hex_at(r, relay_rec::kLength, relay_rec::kHexDigits);
  const bool head_ok =
      counter && length && colon_at(r, relay_rec::kLength - 1) && colon_at(r, relay_rec::kData - 1);
  out.counter = counter.value_or(0);
  out.kind = RelayRecordKind::kSkipped;
  out.next = rec + relay_rec::kData;
  if (!head_ok) return out;

  if (is_packet) {
    if (*length < 1 || *length > relay_rec::kMaxPacketBytes) return out;
    Bytes data = r.bytes_at(relay_rec::kData, *length);
    if (!r.ok()) {
      out.kind = RelayRecordKind::kNeedMore;
      return out;
    }
    out.kind = RelayRecordKind::kPackets;
    out.data = data;
    out.next = after_zero(buffer, rec + relay_rec::kData + *length);
    return out;
  }
  if (*length != relay_rec::kSerialText) return out;
  if (!r.has(relay_rec::kData, relay_rec::kSerialText)) {
    out.kind = RelayRecordKind::kNeedMore;
    return out;
  }
  out.next = after_zero(buffer, rec + relay_rec::kData + relay_rec::kSerialText);
  std::optional<uint32_t> serial = hex_at(r, relay_rec::kSerial, relay_rec::kHexDigits);
  const bool serial_ok = serial && tag_is(buffer, rec + relay_rec::kData, "SER=") &&
                         colon_at(r, relay_rec::kSerial + relay_rec::kHexDigits);
  if (!serial_ok) return out;
  out.kind = RelayRecordKind::kSerial;
  out.serial = *serial;
  return out;
}

}  // namespace lvx
