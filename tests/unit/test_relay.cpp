// The relay's pure pieces: the slave records and their parser, the time rule for slave messages,
// the master's stream cut anywhere, the slave outbox; and the slave's walk through the receive
// entry (a serial and its reply in one buffer).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "control/control_state.h"
#include "library/library.h"
#include "link/dispatcher.h"
#include "link/link_state.h"
#include "link/transport.h"
#include "relay/relay_framing.h"
#include "relay/slave_outbox.h"
#include "sim/tracker.h"

namespace {

using Buffer = std::vector<uint8_t>;

lvx::Bytes bytes(const std::string &s) {
  return lvx::Bytes(reinterpret_cast<const uint8_t *>(s.data()), s.size());
}

TEST(RelayFraming, SlaveRecordsAsTheMasterReadsThem) {
  EXPECT_EQ(lvx::format_open_record(0x1234), "LV_OPN:00001234");
  EXPECT_EQ(lvx::format_close_record(0xabcdef01), "LV_CLS:abcdef01");
  // 12345678.9 us: 12345 whole milliseconds and 678 microseconds, cut toward zero.
  EXPECT_EQ(*lvx::format_message_record(0x2a, 12345678.9, "TRIALID 1"),
            "LV_MSG:0000002a:00003039:02a6:TRIALID 1");
  EXPECT_EQ(*lvx::format_message_record(0x2a, std::nullopt, "x"),
            "LV_MSG:0000002a:00000000:0000:x");
  EXPECT_EQ(*lvx::format_request_record(7, "screen_pixel_coords"),
            "LV_CMD:00000007:00000000:0000:screen_pixel_coords");
  EXPECT_TRUE(lvx::format_message_record(1, 1.0, std::string(993, 'm')).has_value());
  EXPECT_FALSE(lvx::format_message_record(1, 1.0, std::string(994, 'm')).has_value());

  const std::string message = "LV_MSG:0000002A:00003039:02a6:a:b";
  auto m = lvx::parse_slave_record(bytes(message));
  ASSERT_TRUE(m.has_value());
  EXPECT_EQ(m->kind, lvx::SlaveRecordKind::kMessage);
  EXPECT_EQ(m->pid, 0x2au);
  EXPECT_EQ(m->time_ms, 12345u);
  EXPECT_EQ(m->time_us, 678);
  EXPECT_EQ(m->text, "a:b");
  const std::string request = "LV_CMD:00000007:00000000:0000:";
  auto r = lvx::parse_slave_record(bytes(request));
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->kind, lvx::SlaveRecordKind::kRequest);
  EXPECT_EQ(r->text, "");
  EXPECT_EQ(lvx::parse_slave_record(bytes("LV_CLS:abcdef01"))->kind, lvx::SlaveRecordKind::kClose);

  for (const char *bad : {"LV_MSG:0000002a:00003039:02a6", "LV_MSG:0000002a:00003039:03e8:over",
                          "LV_MSG:0000002g:00003039:02a6:x", "LV_MSG:0000002a-00003039:02a6:x",
                          "xLV_CLS:00000001", "LV_CLS:0001", "LV_XYZ:00000001"}) {
    EXPECT_FALSE(lvx::parse_slave_record(bytes(bad)).has_value()) << bad;
  }
}

TEST(RelayFraming, SlaveRecordsAreCollectedAcrossReadsAndOverlongOnesDropped) {
  lvx::SlaveRecordReader reader;
  std::vector<std::string> got;
  auto collect = [&](lvx::Bytes b, bool overlong) {
    got.push_back(overlong ? "<dropped>" : std::string(b.begin(), b.end()));
  };
  std::string stream = std::string("LV_OPN:00000001") + '\0' + "LV_MSG:00000001:" + '\0' +
                       std::string(1100, 'x') + '\0' + "LV_CLS:00000001" + '\0';
  for (size_t at = 0; at < stream.size(); at += 7) {
    reader.feed(bytes(stream.substr(at, 7)), collect);
  }
  EXPECT_EQ(got, (std::vector<std::string>{"LV_OPN:00000001", "LV_MSG:00000001:", "<dropped>",
                                           "LV_CLS:00000001"}));
}

TEST(RelayFraming, SlaveTimesHoldOnlyWhenTheyCanBeTrusted) {
  const double now = 5'000'000'000.0;  // 5000 s of the machine's clock
  EXPECT_DOUBLE_EQ(lvx::slave_message_time_us(0, 0, now, false), now);
  EXPECT_DOUBLE_EQ(lvx::slave_message_time_us(4'999'800, 678, now, true), now);
  EXPECT_DOUBLE_EQ(lvx::slave_message_time_us(4'999'800, 678, now, false), 4'999'800'678.0);
  // Whole milliseconds travel in 32 bits: after 49.7 days of uptime they have wrapped.
  const double later = (4294967296.0 + 1000.0) * 1000.0;
  EXPECT_DOUBLE_EQ(lvx::slave_message_time_us(4294967000u, 0, later, false), 4294967000.0 * 1000.0);
  EXPECT_DOUBLE_EQ(lvx::slave_message_time_us(800, 5, later, false),
                   (4294967296.0 + 800.005) * 1000.0);
}

// What a walk over the master's stream finds, kept as text: packet data, serials, skips.
std::vector<std::string> records_of(const Buffer &stream, size_t piece) {
  std::vector<std::string> found;
  Buffer held;
  for (size_t at = 0; at < stream.size(); at += piece) {
    held.insert(held.end(), stream.begin() + static_cast<std::ptrdiff_t>(at),
                stream.begin() + static_cast<std::ptrdiff_t>(std::min(stream.size(), at + piece)));
    size_t pos = 0;
    for (;;) {
      lvx::RelayRecord r = lvx::next_relay_record(lvx::Bytes(held), pos);
      if (r.kind == lvx::RelayRecordKind::kNone || r.kind == lvx::RelayRecordKind::kNeedMore) {
        held.erase(held.begin(),
                   held.begin() + static_cast<std::ptrdiff_t>(
                                      r.kind == lvx::RelayRecordKind::kNone ? r.next : r.start));
        break;
      }
      if (r.kind == lvx::RelayRecordKind::kPackets) {
        found.emplace_back(r.data.begin(), r.data.end());
      } else if (r.kind == lvx::RelayRecordKind::kSerial) {
        found.push_back("serial " + std::to_string(r.serial));
      } else {
        found.push_back("skip");
      }
      if (r.next <= pos) {
        ADD_FAILURE() << "the walk did not move on at " << pos;
        return found;
      }
      pos = r.next;
    }
  }
  return found;
}

Buffer packet_record(uint32_t counter, const std::string &data) {
  char head[lvx::kPacketHeadSize + 1];
  lvx::format_packet_head(counter, static_cast<uint32_t>(data.size()), head);
  const std::string all = std::string(head, lvx::kPacketHeadSize) + data;
  return Buffer(all.begin(), all.end());
}

Buffer serial_record(uint32_t counter, uint32_t serial) {
  std::string s = lvx::format_serial_record(counter, serial);
  Buffer out(s.begin(), s.end());
  out.push_back(0);
  return out;
}

TEST(RelayFraming, TheMastersStreamGivesTheSameRecordsHoweverItIsCut) {
  Buffer stream = serial_record(1, 0x1234);
  for (const Buffer &b :
       {packet_record(2, "first packets"), packet_record(3, std::string(1499, 'p')),
        packet_record(4, ""), serial_record(5, 99), packet_record(6, "LV_PKT:x")}) {
    stream.insert(stream.end(), b.begin(), b.end());
  }
  const std::vector<std::string> whole = records_of(stream, stream.size());
  ASSERT_EQ(whole.size(), 6u);
  EXPECT_EQ(whole[0], "serial 4660");  // a serial ahead of the packets is taken first
  EXPECT_EQ(whole[1], "first packets");
  EXPECT_EQ(whole[2], std::string(1499, 'p'));
  EXPECT_EQ(whole[3], "skip");  // a length of 0
  EXPECT_EQ(whole[4], "serial 99");
  EXPECT_EQ(whole[5], "LV_PKT:x");
  for (size_t piece : {1u, 2u, 5u, 7u, 24u, 25u, 26u, 100u, 1523u}) {
    EXPECT_EQ(records_of(stream, piece), whole) << "pieces of " << piece;
  }
}

// A socket that takes at most `room` bytes until given more.
struct FakeSocket {
  size_t room = 0;
  std::string taken;
  bool broken = false;
  int operator()(const void *a, size_t na, const void *b, size_t nb) {
    if (broken) return -lvx::platform::kSockConnReset;
    if (room == 0) return -lvx::platform::kSockWouldBlock;
    std::string all(static_cast<const char *>(a), na);
    if (nb > 0) all.append(static_cast<const char *>(b), nb);
    size_t n = std::min(room, all.size());
    taken += all.substr(0, n);
    room -= n;
    return static_cast<int>(n);
  }
};

TEST(SlaveOutbox, KeepsOrderDropsTheSlowAndTheGone) {
  lvx::SlaveOutbox box(100, 500);
  FakeSocket s;
  s.room = 5;
  EXPECT_EQ(box.offer(bytes("head:"), bytes("body1"), 0, s), lvx::OutboxResult::kSent);
  EXPECT_EQ(s.taken, "head:");
  EXPECT_EQ(box.offer(bytes("head:"), bytes("body2"), 10, s), lvx::OutboxResult::kSent);
  EXPECT_EQ(box.waiting_bytes(), 15u);
  EXPECT_FALSE(box.stalled(499));
  EXPECT_TRUE(box.stalled(500));
  s.room = 12;
  EXPECT_EQ(box.flush(600, s), lvx::OutboxResult::kSent);
  EXPECT_FALSE(box.stalled(1000));  // it took something at 600
  s.room = 1000;
  EXPECT_EQ(box.offer(bytes("head:"), bytes("body3"), 700, s), lvx::OutboxResult::kSent);
  EXPECT_EQ(s.taken, "head:body1head:body2head:body3");
  EXPECT_FALSE(box.pending());

  s.room = 0;
  EXPECT_EQ(box.offer(bytes(std::string(60, 'a')), bytes(""), 800, s), lvx::OutboxResult::kSent);
  EXPECT_EQ(box.offer(bytes(std::string(60, 'b')), bytes(""), 800, s), lvx::OutboxResult::kBehind);
  s.broken = true;
  EXPECT_EQ(box.flush(900, s), lvx::OutboxResult::kBroken);
}

// The slave's receive entry: a serial and the reply to its request in one read, then a packet
// record cut in two, walked once its end has come.
TEST(RelaySlaveWalk, TheSerialComesBeforeItsReplyAndCutRecordsWait) {
  lvx::ensure_library();
  lvx::LinkRecord &r = lvx::link_record();
  lvx::link_system().open = true;
  r.is_connected = -1;
  lvx::ControlState &cs = lvx::control_state();
  cs.request_serial = 0;
  cs.reply_state = 1000;

  Buffer reply = lvxsim::build::status_packet(0x51, 21, 0, 0, "1280 1024");
  Buffer buf = serial_record(7, 0x51);
  Buffer pkt = packet_record(8, std::string(reply.begin(), reply.end()));
  buf.insert(buf.end(), pkt.begin(), pkt.end());
  int used = 0;
  {
    lvx::LinkLockGuard lock;
    used = lvx::rx_buffer(LVXADDR{}, lvx::Bytes(buf.data(), buf.size() - 3));
  }
  EXPECT_EQ(used, static_cast<int>(buf.size() - pkt.size()));  // the cut record waits
  EXPECT_EQ(cs.reply_state, 1000);
  {
    lvx::LinkLockGuard lock;
    used = lvx::rx_buffer(LVXADDR{}, lvx::Bytes(buf).subspan(static_cast<size_t>(used)));
  }
  EXPECT_EQ(used, static_cast<int>(pkt.size()));
  EXPECT_EQ(cs.request_serial, 0x51u);
  char text[200] = {};
  EXPECT_EQ(lumavex_read_reply(text), 0);
  EXPECT_STREQ(text, "1280 1024");
  r.is_connected = 0;
  lvx::link_system().open = false;
}

}  // namespace
