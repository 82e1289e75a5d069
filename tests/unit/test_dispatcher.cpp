// The receive walk over hand-made buffers: byte accounting and its bounds, header echo, who may
// steer the link (sender filtering, connect replies only during a connect), polls and node
// messages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "library/library.h"
#include "link/dispatcher.h"
#include "link/link_state.h"
#include "link/tracker_clock.h"
#include "link/transport.h"
#include "sim/tracker.h"

namespace {

using Buffer = std::vector<uint8_t>;

const LVXADDR kTracker = lvx::make_address({127, 0, 0, 40}, 589);
const LVXADDR kStranger = lvx::make_address({127, 0, 0, 41}, 589);

Buffer cat(std::initializer_list<Buffer> parts) {
  Buffer out;
  for (const Buffer &p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

int feed(const LVXADDR &from, const Buffer &b) {
  return lvx::rx_buffer(from, lvx::Bytes(b));
}

Buffer ack(const std::string &version, uint8_t major = 3) {
  return lvxsim::build::connect_packet(0x81, major, 2, "trk", "", "QX VELOTRIS " + version);
}

Buffer status(uint32_t serial, uint8_t mode = 0, uint8_t state = 0) {
  Buffer p = lvxsim::build::status_packet(serial, 20, 0, 0, "");
  p[2] = mode;
  p[3] = state;
  return p;
}

Buffer data_packet(size_t size) {
  Buffer p = lvxsim::build::header(4, 0, 0, 0, 0, 0);
  p.resize(size, 0);
  return p;
}

class Dispatcher : public testing::Test {
 protected:
  void SetUp() override {
    lvx::ensure_library();  // registers the subsystems' packet routes
    lvx::LinkRecord &r = lvx::link_record();
    r.is_connected = 1;
    r.tracker_address = kTracker;
    r.last_sequence = -1;
    lvx::clear_link_state();
  }
  void TearDown() override {
    lvx::LinkRecord &r = lvx::link_record();
    r.is_connected = 0;
    r.silenced = false;
    r.connecting = false;
  }
  // Opens a connect window as do_connect does, to `node` (to any node when `any`).
  static void connecting_to(const LVXADDR &node, bool any = false) {
    lvx::LinkRecord &r = lvx::link_record();
    r.is_connected = 0;
    r.connect_target = node;
    r.connect_any = any;
    r.connecting = true;
  }
};

TEST_F(Dispatcher, StatusPacketsAreUsedExactlyAndTheTailIsCarried) {
  Buffer b = cat({status(7), status(8)});
  EXPECT_EQ(feed(kTracker, b), static_cast<int>(b.size()));
  EXPECT_EQ(lvx::last_status_serial(), 8);
  // Fewer than 20 bytes after the last packet are left for the next pass.
  Buffer tail = cat({status(9), Buffer(7, 0xAB)});
  EXPECT_EQ(feed(kTracker, tail), static_cast<int>(tail.size()) - 7);
}

TEST_F(Dispatcher, BadHeaderLengthEndsTheWalkAfterTheFirstPacket) {
  Buffer second = status(22);
  second[1] = 19;
  Buffer b = cat({status(21), second});
  EXPECT_EQ(feed(kTracker, b), static_cast<int>(b.size()));
  EXPECT_EQ(lvx::last_status_serial(), 21);
}

TEST_F(Dispatcher, HeaderEchoDrivesModeWordAndReadyLatch) {
  lvx::LinkRecord &r = lvx::link_record();
  Buffer busy = status(1, 10, 1);
  busy[18] = 0x22;
  busy[14] = 0x12;
  busy[15] = 0x34;
  feed(kTracker, busy);
  EXPECT_EQ(r.mode_word, 10);
  EXPECT_EQ(r.mode_ready, 0);
  EXPECT_EQ(r.state.header_byte18, 0x22);
  EXPECT_EQ(r.state.header_word14, 0x1234);
  feed(kTracker, status(2, 10, 0));
  EXPECT_EQ(r.mode_ready, 1);
  feed(kTracker, status(3, 10, 0));
  EXPECT_EQ(r.mode_ready, 1);
  feed(kTracker, status(4, 11, 2));
  EXPECT_EQ(r.mode_ready, 0);
  EXPECT_EQ(r.mode_word, 11);
}

TEST_F(Dispatcher, UnknownTypeFromTheTrackerCountsTwentyOneBytes) {
  Buffer unknown = lvxsim::build::header(9, 0, 0, 0, 0, 0);
  unknown.resize(21, 0);
  Buffer b = cat({unknown, status(30)});
  EXPECT_EQ(feed(kTracker, b), static_cast<int>(b.size()));
  EXPECT_EQ(lvx::last_status_serial(), 30);
}

// The owner's start-up registers each route once; the table refuses a route without a handler,
// a second route for a type and one for the link's own packets, and the owner counts each refusal.
TEST_F(Dispatcher, RegistrationRefusesMissingAndRepeatedRoutes) {
  EXPECT_EQ(lvx::library_start_faults(), 0);
  static int calls = 0;
  const lvx::PacketHandler count = [](const LVXADDR &, lvx::Bytes) {
    ++calls;
    return 20;
  };
  const lvx::PacketRouteEntry routes[] = {
      {0x55, {count, true}},   {0x55, {count, true}},         {STATUS_PKT, {count, false}},
      {0x56, {nullptr, true}}, {CONNECT_PKT, {count, false}},
  };
  EXPECT_EQ(lvx::register_packet_routes(routes), 4);
  EXPECT_EQ(lvx::library_start_faults(), 4);
  EXPECT_FALSE(lvx::register_mode_observer([](unsigned, unsigned) {}));
  EXPECT_FALSE(lvx::register_relay_walker(nullptr));
  EXPECT_FALSE(lvx::register_relay_io([](lvx::Bytes) {}, [](uint8_t *, int, int) { return 0; }));
  // The status handler kept its route; the new type reached its handler once.
  feed(kTracker, cat({status(41), lvxsim::build::header(0x55, 0, 0, 0, 0, 0)}));
  EXPECT_EQ(lvx::last_status_serial(), 41);
  EXPECT_EQ(calls, 1);
}

TEST_F(Dispatcher, ConnectAckTeachesTrackerAddressNameAndVersion) {
  lvx::LinkRecord &r = lvx::link_record();
  r.accepted = false;
  connecting_to(kStranger);
  Buffer p = ack("LUMAVEX RX 5.7");
  // A connect packet counts 137 bytes, one more than its length.
  EXPECT_EQ(feed(kStranger, p), 136);
  EXPECT_TRUE(r.accepted);
  EXPECT_TRUE(lvx::same_node(r.tracker_address, kStranger));
  EXPECT_STREQ(r.state.tracker_name, "trk");
  char text[40] = {};
  EXPECT_EQ(lumavex_get_tracker_version(text), 3);
  EXPECT_STREQ(text, "LUMAVEX RX 5.7");
  EXPECT_EQ(lvx::max_send_size(), 1022);
  EXPECT_EQ(lvx::max_text_length(), 992);

  feed(kStranger, ack("LUMAVEX T 6.1"));
  EXPECT_EQ(lumavex_get_tracker_version(text), 4);
  feed(kStranger, ack("LUMAVEX Q 1.0"));
  EXPECT_EQ(lumavex_get_tracker_version(text), 1);
  EXPECT_STREQ(text, "LUMAVEX K");
  EXPECT_EQ(lvx::max_send_size(), 580);
}

// A reply cut before its model character (126) or its version text's end would pass for a
// first-generation tracker's: it is refused, and the buffer counts as used.
TEST_F(Dispatcher, ConnectReplyCutShortIsRefused) {
  lvx::LinkRecord &r = lvx::link_record();
  connecting_to(kStranger);
  for (size_t size : {125u, 126u, 135u}) {
    r.accepted = false;
    Buffer p = ack("LUMAVEX RX 5.7");
    p.resize(size);
    EXPECT_EQ(feed(kStranger, p), static_cast<int>(size));
    EXPECT_FALSE(r.accepted) << size;
  }
  feed(kStranger, ack("LUMAVEX RX 5.7"));
  EXPECT_TRUE(r.accepted);
}

TEST_F(Dispatcher, ConnectRepliesOnlyFromTheNodeAskedWhileConnecting) {
  lvx::LinkRecord &r = lvx::link_record();
  const Buffer busy = lvxsim::build::connect_packet(0x82, 3, 2, "", "", "QX VELOTRIS LUMAVEX");
  r.busy = false;
  r.accepted = false;
  // Connected: nobody's busy reply drops the link and nobody's accept replaces the tracker, not
  // even the tracker's own.
  for (const LVXADDR &from : {kStranger, kTracker}) {
    feed(from, busy);
    feed(from, ack("LUMAVEX RX 5.7"));
  }
  EXPECT_EQ(r.is_connected, 1);
  EXPECT_FALSE(r.busy);
  EXPECT_FALSE(r.accepted);
  EXPECT_TRUE(lvx::same_node(r.tracker_address, kTracker));

  // Connecting to the tracker: another node's replies are ignored, the tracker's taken, unless
  // they carry a foreign identity.
  connecting_to(kTracker);
  feed(kStranger, busy);
  feed(kStranger, ack("LUMAVEX RX 5.7"));
  EXPECT_FALSE(r.busy);
  EXPECT_FALSE(r.accepted);
  feed(kTracker, lvxsim::build::connect_packet(0x81, 3, 2, "x", "", "SOMEBODY ELSE 1.0"));
  EXPECT_FALSE(r.accepted);
  feed(kTracker, ack("LUMAVEX RX 5.7"));
  EXPECT_TRUE(r.accepted);
  connecting_to(kTracker);
  feed(kTracker, busy);
  EXPECT_TRUE(r.busy);
  EXPECT_EQ(r.is_connected, 0);

  // A broadcast open takes whichever node answers.
  r.accepted = false;
  connecting_to(kTracker, /*any=*/true);
  feed(kStranger, ack("LUMAVEX RX 5.7"));
  EXPECT_TRUE(r.accepted);
  EXPECT_TRUE(lvx::same_node(r.tracker_address, kStranger));

  // Once the wait is over, a late reply changes nothing.
  r.accepted = false;
  r.connecting = false;
  r.tracker_address = kTracker;
  feed(kStranger, ack("LUMAVEX RX 5.7"));
  EXPECT_FALSE(r.accepted);
  EXPECT_TRUE(lvx::same_node(r.tracker_address, kTracker));
}

TEST_F(Dispatcher, WhileConnectedOnlyTheTrackerSteersTheLink) {
  lvx::LinkRecord &r = lvx::link_record();
  feed(kTracker, status(5, 10, 0));
  ASSERT_EQ(lvx::last_status_serial(), 5);
  // A stranger's status packets (results, mode word, state flag, header echo) are refused,
  // connected or silent...
  Buffer forged = status(6, 7, 1);
  forged[18] = 0x02;  // playing back
  for (bool silent : {false, true}) {
    r.is_connected = silent ? 0 : 1;
    r.silenced = silent;
    EXPECT_EQ(feed(kStranger, forged), static_cast<int>(forged.size()));
    EXPECT_EQ(lvx::last_status_serial(), 5);
    EXPECT_EQ(r.mode_word, 10);
    EXPECT_EQ(r.state_flag, 0);
    EXPECT_EQ(r.state.header_byte18, 0);
  }
  // ...and taken from the silent tracker.
  feed(kTracker, status(7, 11, 0));
  EXPECT_EQ(lvx::last_status_serial(), 7);
  // With no tracker at all, status packets come from whichever node was asked.
  r.silenced = false;
  feed(kStranger, forged);
  EXPECT_EQ(lvx::last_status_serial(), 6);
  EXPECT_EQ(r.mode_word, 7);
  EXPECT_EQ(r.state.header_byte18, 0x02);
}

TEST_F(Dispatcher, OnlyTheTrackersConnectPacketsFeedTheClock) {
  lvx::tracker_clock_reset();
  lvx::tracker_clock_restart();
  Buffer reply = lvxsim::build::connect_packet(0x91, 3, 2, "other", "", "QX VELOTRIS LUMAVEX");
  lvx::put_u32(lvx::MutableBytes(reply), 8, 123456);  // tracker time, ms
  lvx::link_record().state.poll_mode = 0;
  feed(kStranger, reply);
  EXPECT_EQ(lvx::link_record().state.poll_count, 1);
  EXPECT_EQ(lvx::tracker_time_usec(), -1.0);
  feed(kTracker, reply);
  EXPECT_GE(lvx::tracker_time_usec(), 123456000.0);
}

TEST_F(Dispatcher, AtMostFourPollRepliesOfTheKindPolledFor) {
  lvx::LinkRecord &r = lvx::link_record();
  r.state.poll_mode = 0;
  // A remote's reply while polling trackers is not stored.
  feed(kStranger, lvxsim::build::connect_packet(0x92, 3, 2, "", "rem", "QX VELOTRIS LUMAVEX"));
  EXPECT_EQ(r.state.poll_count, 0);
  for (uint8_t n = 1; n <= 5; ++n) {
    LVXADDR from = lvx::make_address({127, 0, 0, static_cast<uint8_t>(50 + n)}, 589);
    std::string name = "tracker" + std::to_string(n) + "   ";
    feed(from, lvxsim::build::connect_packet(0x91, 3, 2, name, "", "QX VELOTRIS LUMAVEX"));
  }
  EXPECT_EQ(r.state.poll_count, 4);
  EXPECT_STREQ(r.state.poll_responses[3].name, "tracker4");
  EXPECT_EQ(r.state.poll_responses[0].addr.addr[3], 51);
}

TEST_F(Dispatcher, NodeMessagesGoToTheRingFromAnySender) {
  Buffer payload(16, 'n');
  payload[0] = 'h';
  Buffer p = lvxsim::build::node_packet(payload);
  // The packet counts its length + 21: more than the datagram, so the whole buffer is used.
  EXPECT_EQ(feed(kStranger, p), static_cast<int>(p.size()));
  LVXADDR from{};
  char data[420] = {};
  EXPECT_EQ(lumavex_node_receive(&from, data), 16);
  EXPECT_EQ(data[0], 'h');
  EXPECT_TRUE(lvx::same_node(from, kStranger));
  EXPECT_EQ(lumavex_node_receive(&from, data), 0);
}

TEST_F(Dispatcher, ShortNodeMessagesAreTakenWholeAndOtherShortTailsCarried) {
  // A node message shorter than a header is whole when its own length covers exactly what
  // remains, alone or after other packets.
  Buffer p = lvxsim::build::node_packet({'h', 'i'});
  EXPECT_EQ(feed(kStranger, p), static_cast<int>(p.size()));
  Buffer b = cat({status(3), lvxsim::build::node_packet({'y', 'o', '!'})});
  EXPECT_EQ(feed(kTracker, b), static_cast<int>(b.size()));
  LVXADDR from{};
  char data[420] = {};
  EXPECT_EQ(lumavex_node_receive(&from, data), 2);
  EXPECT_EQ(std::string(data, 2), "hi");
  EXPECT_TRUE(lvx::same_node(from, kStranger));
  EXPECT_EQ(lumavex_node_receive(&from, data), 3);
  EXPECT_TRUE(lvx::same_node(from, kTracker));
  // Anything else shorter than a header waits for more bytes: 19 bytes opening like a data
  // packet, and a node packet whose length says more than there is.
  Buffer short_data = lvxsim::build::header(4, 20, 0, 0, 0, 0);
  short_data.resize(19);
  EXPECT_EQ(feed(kTracker, short_data), 0);
  Buffer cut = lvxsim::build::node_packet({'a', 'b', 'c'});
  cut.pop_back();
  EXPECT_EQ(feed(kStranger, cut), 0);
  // An empty node message is dropped but still counts 21 bytes.
  Buffer empty = lvxsim::build::node_packet({});
  Buffer c = cat({empty, Buffer(16, 0), status(77)});
  EXPECT_EQ(feed(kTracker, c), static_cast<int>(c.size()));
  EXPECT_EQ(lvx::last_status_serial(), 77);
  EXPECT_EQ(lumavex_node_receive(&from, data), 0);
}

TEST_F(Dispatcher, ATailLeftByAHandlerIsBoundedLikeAnyOther) {
  // A data packet whose item area claims 4,050 bytes in a datagram of 1,400: the data handler
  // stops the walk, and the 1,400 bytes are too many to carry.
  Buffer big = data_packet(1400);
  lvx::put_u16(lvx::MutableBytes(big), 20, 4050);
  EXPECT_EQ(feed(kTracker, big), static_cast<int>(big.size()));
  // After a whole packet, a cut one of up to 1,000 bytes is left as the tail.
  Buffer cut = data_packet(500);
  lvx::put_u16(lvx::MutableBytes(cut), 20, 900);
  Buffer b = cat({status(9), cut});
  EXPECT_EQ(feed(kTracker, b), static_cast<int>(b.size()) - 500);
}

}  // namespace
