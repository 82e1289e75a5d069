// Messages against the simulated tracker: time offsets, long and multi-line messages on both
// packet sizes, formatted messages, bursts, and the modes in which nothing is sent.
#include <string>
#include <vector>

#include "common/wire_reader.h"
#include "sim_fixture.h"

namespace {

using simtest::wait_until;

// The message helpers, over the transport the parameter names.
class MessageTest : public simtest::TransportChoice {
 protected:
  // The message packets the tracker has recorded, once at least `expected` have been (a packet
  // is recorded just after its message is stored, so the two can be a moment apart).
  std::vector<lvxsim::ReceivedPacket> message_packets(size_t expected) const {
    std::vector<lvxsim::ReceivedPacket> out;
    wait_until([&] {
      out.clear();
      for (const auto &p : sim_->received())
        if (p.bytes.size() >= 31 && p.bytes[0] == MESSAGE_PKT) out.push_back(p);
      return out.size() >= expected;
    });
    return out;
  }

  static int32_t offset_of(const lvxsim::ReceivedPacket &p) {
    return static_cast<int32_t>(lvx::WireReader(p.bytes).u32_at(20));
  }

  static std::string letters(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += static_cast<char>('A' + i % 26);
    return s;
  }
};

class Messages : public MessageTest, public testing::WithParamInterface<simtest::Transport> {
 protected:
  simtest::Transport transport() const override { return GetParam(); }
};

TEST_P(Messages, ExecTimeOffsetsAndStamps) {
  connect_to_tracker(at(52, 222));
  ASSERT_EQ(lumavex_send_message_ex(20, "TRIAL 1 later"), 0);
  ASSERT_EQ(lumavex_send_message_ex(-20, "TRIAL 1 earlier"), 0);
  ASSERT_EQ(lumavex_send_message("TRIAL 1 now"), 0);
  ASSERT_TRUE(sim().wait_for_messages(3, 2000));
  auto packets = message_packets(3);
  ASSERT_EQ(packets.size(), 3u);
  // The offset is the exectime less the time between the call and the packet, rounded: normally
  // under half a millisecond, but a loaded machine may stall the sending thread for a few.
  EXPECT_LE(offset_of(packets[0]), 20);
  EXPECT_GE(offset_of(packets[0]), 10);
  EXPECT_LE(offset_of(packets[1]), -19);
  EXPECT_GE(offset_of(packets[1]), -30);
  EXPECT_LE(offset_of(packets[2]), 0);
  EXPECT_GE(offset_of(packets[2]), -10);
  // Serials follow one another.
  uint32_t first = lvx::WireReader(packets[0].bytes).u32_at(4);
  EXPECT_EQ(lvx::WireReader(packets[2].bytes).u32_at(4), first + 2);

  auto stored = sim().recorded_messages();
  ASSERT_EQ(stored.size(), 3u);
  EXPECT_EQ(stored[0].text, "TRIAL 1 later");
  EXPECT_EQ(stored[0].offset_ms, offset_of(packets[0]));
  // The tracker stamps each message at its arrival plus its offset.
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(stored[i].time_ms, packets[i].tracker_time_us / 1000 + offset_of(packets[i]));
  }
  EXPECT_LT(stored[1].time_ms, stored[2].time_ms);
  EXPECT_GT(stored[0].time_ms, stored[2].time_ms);
}

// A 600-character message, and a multi-line one with an empty line and a 300-character line,
// on each packet size: the tracker stores them whole. A large-packet tracker gets the long
// message in one packet and short lines sharing one, a line too long to store on its own in a
// packet of its own; a small-packet tracker gets one packet per line and long texts in 247-byte
// pieces.
struct PacketSize {
  uint8_t tracker;
  const char *version;
  size_t long_packets;
  size_t multi_line_packets;
  simtest::Transport transport;
};

class MessageSizes : public MessageTest, public testing::WithParamInterface<PacketSize> {
 protected:
  simtest::Transport transport() const override { return GetParam().transport; }
};

TEST_P(MessageSizes, LongAndMultiLineMessagesAreStoredWhole) {
  const PacketSize &size = GetParam();
  connect_to_tracker(size.tracker, size.version);
  const std::string text = letters(600);
  ASSERT_EQ(lumavex_send_message(text.c_str()), 0);
  // A long message is stored with its first piece and grows as the others arrive.
  ASSERT_TRUE(wait_until([&] {
    auto m = sim().recorded_messages();
    return !m.empty() && m[0].text.size() >= text.size();
  }));
  ASSERT_EQ(sim().recorded_messages().size(), 1u);
  EXPECT_EQ(sim().recorded_messages()[0].text, text);
  EXPECT_EQ(message_packets(size.long_packets).size(), size.long_packets);

  sim().clear_received();
  const std::string line = letters(300);
  ASSERT_EQ(eyemsg_printf("start\n\nmiddle\n%s\nend\n", line.c_str()), 0);
  ASSERT_TRUE(sim().wait_for_messages(4, 2000));
  auto stored = sim().recorded_messages();
  ASSERT_EQ(stored.size(), 4u);
  EXPECT_EQ(stored[0].text, "start");
  EXPECT_EQ(stored[1].text, "middle");
  EXPECT_EQ(stored[2].text, line);
  EXPECT_EQ(stored[3].text, "end");
  EXPECT_EQ(message_packets(size.multi_line_packets).size(), size.multi_line_packets);
}

constexpr auto kUdp = simtest::Transport::kUdp;
constexpr auto kTcp = simtest::Transport::kTcp;
INSTANTIATE_TEST_SUITE_P(PacketSizes, MessageSizes,
                         testing::Values(PacketSize{53, "LUMAVEX RX 5.7", 1, 3, kUdp},
                                         PacketSize{54, "LUMAVEX RX 4.56", 3, 5, kUdp},
                                         PacketSize{223, "LUMAVEX RX 5.7", 1, 3, kTcp},
                                         PacketSize{224, "LUMAVEX RX 4.56", 3, 5, kTcp}),
                         [](const testing::TestParamInfo<PacketSize> &param_info) {
                           const PacketSize &p = param_info.param;
                           return std::string(p.long_packets == 1 ? "Large" : "Small") +
                                  (p.transport == kTcp ? "Tcp" : "Udp");
                         });

// Formatted messages of any length, then a burst: all stored whole, in order, with serials that
// follow one another.
TEST_P(Messages, FormattedMessagesOfAnyLengthAndBurstsArriveCompleteAndInOrder) {
  connect_to_tracker(at(57, 227));
  std::string big = letters(1500);
  ASSERT_EQ(eyemsg_printf("VAR %s", big.c_str()), 0);
  ASSERT_EQ(eyemsg_printf_ex(-5, "SYNC %d", 7), 0);
  constexpr size_t kCount = 300;
  for (size_t i = 0; i < kCount; ++i) ASSERT_EQ(eyemsg_printf("burst %zu", i), 0);
  ASSERT_TRUE(sim().wait_for_messages(kCount + 2, 5000));
  auto stored = sim().recorded_messages();
  ASSERT_EQ(stored.size(), kCount + 2);
  EXPECT_EQ(stored[0].text, "VAR " + big);
  EXPECT_EQ(stored[1].text, "SYNC 7");
  EXPECT_LE(stored[1].offset_ms, -4);
  for (size_t i = 0; i < kCount; ++i) {
    EXPECT_EQ(stored[i + 2].text, "burst " + std::to_string(i));
    if (i > 0) {
      EXPECT_EQ(stored[i + 2].serial, stored[i + 1].serial + 1);
    }
  }
}

TEST_P(Messages, NothingIsSentInDummyOrQuietModes) {
  start_tracker(at(59, 229));
  EXPECT_EQ(lumavex_node_send_message(nullptr, "x"), LINK_TERMINATED_RESULT);  // not open
  ASSERT_EQ(open_lumavex_connection(0), 0);
  EXPECT_EQ(lumavex_quiet_mode(2), 0);
  EXPECT_EQ(lumavex_send_message("quiet"), 0);
  EXPECT_EQ(lumavex_quiet_mode(1), 2);
  EXPECT_EQ(lumavex_send_message("commands quiet, messages not"), 0);
  EXPECT_EQ(lumavex_quiet_mode(0), 1);
  ASSERT_TRUE(sim().wait_for_messages(1, 2000));
  ASSERT_EQ(lumavex_close(0), 0);

  ASSERT_EQ(lumavex_dummy_open(), 0);
  EXPECT_EQ(lumavex_send_message("dummy"), 0);
  EXPECT_EQ(lumavex_send_message_ex(5, "dummy"), 0);
  EXPECT_EQ(eyemsg_printf("dummy %d", 1), 0);
  EXPECT_EQ(eyemsg_printf_ex(5, "dummy %d", 1), 0);
  LVXADDR tracker = lvx::link_record().tracker_node;
  EXPECT_EQ(lumavex_node_send_message(&tracker, "dummy"), 0);
  ASSERT_EQ(lumavex_close(0), 0);

  // Not connected, with the link open: messages go to the configured tracker node.
  EXPECT_EQ(lumavex_send_message("unconnected"), 0);
  ASSERT_TRUE(sim().wait_for_messages(2, 2000));
  auto stored = sim().recorded_messages();
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[0].text, "commands quiet, messages not");
  EXPECT_EQ(stored[1].text, "unconnected");
}

TEST_P(Messages, NodeMessagesGoStraightToTheNode) {
  connect_to_tracker(at(152, 230));
  LVXADDR tracker = lvx::link_record().tracker_node;
  EXPECT_EQ(lumavex_node_send_message_ex(10, &tracker, "to the node"), 0);
  EXPECT_EQ(lumavex_node_send_message_ex(0, nullptr, "no node"), -1);
  ASSERT_TRUE(sim().wait_for_messages(1, 2000));
  EXPECT_EQ(sim().recorded_messages()[0].text, "to the node");
  EXPECT_GE(sim().recorded_messages()[0].offset_ms, 9);
}

INSTANTIATE_TEST_SUITE_P(Transports, Messages, simtest::kBothTransports, simtest::transport_name);

}  // namespace
