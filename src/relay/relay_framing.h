// The text framings of the local relay, as plain functions: the records a slave sends its master
// ("LV_OPN:", "LV_CLS:", "LV_MSG:", "LV_CMD:", zero-terminated), the records a master sends its
// slaves ("LV_PKT:" around the link packets it received, "LV_SER:" with the serial of a read
// request made for that slave), the reassembly of both streams, and the time rule for slave
// messages. Hexadecimal fields are written in lower case with leading zeros; both cases are read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/byte_io.h"
#include "common/wire_reader.h"

namespace lvx {

// The master's socket, in the working folder that master and slaves share.
inline constexpr char kRelayServerName[] = "./server.sock";
// Logged when a slave's message time cannot be kept because the clock bases differ.
inline constexpr char kRelayTimeBaseText[] =
    "Time base is not QX_CLOCK_BASE_MACHINE_LOCAL. Ignoring effective time on message time stamp "
    "when receiving messages from slave. To improve timing on messages from slave application, "
    "call lumavex_get_clock_base() \n";

namespace relay_rec {
// Every record starts with a 7-character tag ("LV_MSG:"), then fields of hexadecimal digits each
// followed by a colon.
constexpr size_t kTagLength = 7;
// Slave records: the process id, the message time in whole milliseconds and its microsecond
// part (zero placeholders when the message carries no time), then the text.
constexpr size_t kPid = 7, kPidDigits = 8;
constexpr size_t kTimeMs = 16, kTimeMsDigits = 8;
constexpr size_t kTimeUs = 25, kTimeUsDigits = 4;
constexpr size_t kText = 30;
// "LV_OPN:pppppppp" and "LV_CLS:pppppppp".
constexpr size_t kShortRecord = kPid + kPidDigits;
// Slave records are built in this many bytes, the terminating zero included.
constexpr size_t kRecordRoom = 1024;
constexpr size_t kMaxText = kRecordRoom - kText - 1;  // 993
// Master records: the relay counter, the length of the data, then the data.
constexpr size_t kCounter = 7, kLength = 16, kData = 25, kHexDigits = 8;
// The data of "LV_SER:": "SER=" and the serial as 8 hexadecimal digits, then a colon.
constexpr size_t kSerialText = 13;
constexpr size_t kSerial = kData + 4;
constexpr uint32_t kMaxPacketBytes = 1499;
}  // namespace relay_rec

inline constexpr std::string_view kOpenTag = "LV_OPN:";
inline constexpr std::string_view kCloseTag = "LV_CLS:";
inline constexpr std::string_view kMessageTag = "LV_MSG:";
inline constexpr std::string_view kRequestTag = "LV_CMD:";
inline constexpr std::string_view kPacketTag = "LV_PKT:";
inline constexpr std::string_view kSerialTag = "LV_SER:";

// --- slave to master ---

enum class SlaveRecordKind { kOpen, kClose, kMessage, kRequest };

struct SlaveRecord {
  SlaveRecordKind kind = SlaveRecordKind::kOpen;
  uint32_t pid = 0;
  uint32_t time_ms = 0;
  uint16_t time_us = 0;
  std::string_view text;  // messages and requests; points into the parsed record
};

// "LV_OPN:%08x" and "LV_CLS:%08x".
std::string format_open_record(uint32_t pid);
std::string format_close_record(uint32_t pid);
// "LV_MSG:%08x:%08x:%04x:%s" with the message time (local microseconds) split into whole
// milliseconds and the microseconds within them, or with zero placeholders when there is no
// time. Nothing for a text longer than relay_rec::kMaxText.
std::optional<std::string> format_message_record(uint32_t pid, std::optional<double> time_us,
                                                 std::string_view text);
// "LV_CMD:%08x:00000000:0000:%s" for a read request. Nothing for a text that is too long.
std::optional<std::string> format_request_record(uint32_t pid, std::string_view text);

// Parses one slave record (without its terminating zero). Nothing for a record that is not one
// of the four, or whose fields are short or not hexadecimal, or whose microsecond part is above
// 999: the tag must open the record.
std::optional<SlaveRecord> parse_slave_record(Bytes record);

// Collects one slave's stream into zero-terminated records. A record that has not ended within
// relay_rec::kRecordRoom bytes is dropped whole (up to its zero), and reported as such.
class SlaveRecordReader {
 public:
  // Takes the bytes as they came and calls on_record(Bytes record, bool overlong) for each
  // record completed (its bytes without the zero; empty for a dropped one).
  template <typename OnRecord>
  void feed(Bytes bytes, OnRecord &&on_record) {
    WireReader r(bytes);
    uint8_t b = 0;
    while (r.left() > 0 && r.u8(b)) {
      if (b == 0) {
        if (dropping_) {
          on_record(Bytes{}, true);
        } else if (held_ > 0) {
          on_record(Bytes(pending_, held_), false);
        }
        held_ = 0;
        dropping_ = false;
      } else if (!dropping_) {
        if (held_ + 1 >= relay_rec::kRecordRoom) {
          dropping_ = true;
          held_ = 0;
        } else {
          pending_[held_++] = b;
        }
      }
    }
  }
  void reset() {
    held_ = 0;
    dropping_ = false;
  }

 private:
  uint8_t pending_[relay_rec::kRecordRoom]{};
  size_t held_ = 0;
  bool dropping_ = false;
};

// The time (local microseconds of the master) at which the master stamps a slave's message.
// The master's own time `now_us` when slave times are ignored (the clock bases differ) or the
// record carries the zero placeholders; else the slave's time. Whole milliseconds travel in 32
// bits, which wrap every 49.7 days of the machine's clock: the slave's time is taken as the one
// nearest to `now_us` that has those low 32 bits, which both processes reading one clock makes
// right.
double slave_message_time_us(uint32_t time_ms, uint16_t time_us, double now_us,
                             bool ignore_slave_times);

// --- master to slave ---

// The head of an "LV_PKT:" record: "LV_PKT:%08x:%08x:" with the relay counter and the byte count
// of the packets that follow it directly (no terminating zero).
constexpr size_t kPacketHeadSize = relay_rec::kData;
void format_packet_head(uint32_t counter, uint32_t length, char (&head)[kPacketHeadSize + 1]);
// "LV_SER:%08x:%08x:SER=%08x:" with the counter, the length 13 and the serial (send it with its
// terminating zero).
std::string format_serial_record(uint32_t counter, uint32_t serial);

enum class RelayRecordKind {
  kPackets,   // an "LV_PKT:" record: data holds its link packets
  kSerial,    // an "LV_SER:" record: serial holds the read request's serial
  kSkipped,   // a record whose length or fields are not usable; the scan goes on after its head
  kNeedMore,  // a record whose end has not arrived; keep the bytes from `start` on
  kNone,      // no record starts here; keep the bytes from `next` on (a tag cut at the end)
};

struct RelayRecord {
  RelayRecordKind kind = RelayRecordKind::kNone;
  size_t start = 0;  // where its tag begins
  size_t next = 0;   // where the scan goes on (after a zero that follows the record)
  uint32_t counter = 0;
  uint32_t serial = 0;
  Bytes data;
};

// Finds the next record of a master's stream at or after `from`: whichever tag comes first. A
// stream cut at any point gives the same records as when whole, provided that what kNeedMore and
// kNone leave is put in front of what follows. A record of another length than 1..1499 bytes of
// packets (or 13 of serial text) is skipped after its head. Every result but kNeedMore has
// next > from, so that a walk always moves on.
RelayRecord next_relay_record(Bytes buffer, size_t from);

}  // namespace lvx
