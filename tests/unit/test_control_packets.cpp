// Status and key packets from the tracker, key and bitmap packets to it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "common/byte_io.h"
#include "control/control_state.h"
#include "control/keys.h"
#include "control/requests.h"
#include "control/status.h"
#include "link/link_state.h"
#include "link/transport.h"

namespace {

using lvx::ControlState;

// A status packet: serial, tracker time, type, two values and a text, with `tail` spare bytes
// after the text as a received buffer would have.
std::vector<uint8_t> status_packet(uint32_t serial, uint16_t type, uint16_t v1, uint16_t v2,
                                   const std::string &text, uint32_t time = 0, size_t tail = 8) {
  namespace f = lvx::status_pkt;
  // Never shorter than the fixed part, so that its bytes always exist.
  std::vector<uint8_t> p(std::max(f::kText, f::kText + text.size() + tail), 0);
  lvx::MutableBytes b(p);
  p[0] = STATUS_PKT, p[1] = 20;
  lvx::put_u32(b, f::kSerial, serial);
  lvx::put_u32(b, f::kTrackerTime, time);
  lvx::put_u16(b, f::kType, type);
  lvx::put_u16(b, f::kValue1, v1);
  lvx::put_u16(b, f::kValue2, v2);
  lvx::put_u16(b, f::kTextLength, static_cast<uint16_t>(text.size()));
  std::memcpy(p.data() + f::kText, text.data(), text.size());
  return p;
}

int apply_status(ControlState &s, const std::vector<uint8_t> &p) {
  return lvx::apply_status_packet(s, lvx::Bytes(p));
}

// A received key packet; `size` lets a test cut it short.
std::vector<uint8_t> key_packet(uint16_t code, uint16_t mods, uint8_t state, uint8_t button,
                                uint16_t raw, uint32_t time, size_t size = 32) {
  namespace f = lvx::key_pkt;
  std::vector<uint8_t> p(32, 0);
  lvx::MutableBytes b(p);
  p[0] = KEY_PKT, p[1] = 20, p[f::kState] = state, p[f::kButton] = button;
  lvx::put_u32(b, f::kTime, time);
  lvx::put_u16(b, f::kCode, code);
  lvx::put_u16(b, f::kModifiers, mods);
  lvx::put_u16(b, f::kRaw, raw);
  p.resize(size);
  return p;
}

int apply_key(ControlState &s, const std::vector<uint8_t> &p) {
  return lvx::apply_key_packet(s, lvx::Bytes(p));
}

constexpr uint8_t kPressed = 10;
constexpr uint8_t kReleased = 0xFF;  // -1 as a byte

TEST(ControlStatus, ReadAndTimeRepliesTakenOnlyForThePendingSerial) {
  ControlState s;
  s.request_serial = 7;
  EXPECT_EQ(apply_status(s, status_packet(8, 21, 0, 0, "other")), 5 + 34);
  EXPECT_EQ(s.reply_state.load(), lvx::kNoReplyYet);
  EXPECT_STREQ(s.reply_text, "");

  EXPECT_EQ(apply_status(s, status_packet(7, 21, 0, 0, "screen_pixel_coords = 0 0 1023 767")),
            34 + 34);
  EXPECT_EQ(s.reply_state.load(), 0);
  EXPECT_STREQ(s.reply_text, "screen_pixel_coords = 0 0 1023 767");
  EXPECT_EQ(lvx::last_status_serial(), 7);

  // A reply longer than the field keeps its first 199 bytes.
  s.reply_state = lvx::kNoReplyYet;
  EXPECT_EQ(apply_status(s, status_packet(7, 21, 0, 0, std::string(250, 'r'))), 250 + 34);
  EXPECT_EQ(std::string(s.reply_text), std::string(199, 'r'));

  // The tracker's time, likewise.
  s.time_serial = 5;
  EXPECT_EQ(apply_status(s, status_packet(6, 40, 0, 0, "", 1234)), 34);
  EXPECT_EQ(s.tracker_time.load(), 0u);
  apply_status(s, status_packet(5, 40, 0, 0, "", 0xC0FFEE42u));
  EXPECT_EQ(s.tracker_time.load(), 0xC0FFEE42u);
}

// Acknowledgements add up; a negative one is an error, which the reader gets before the count.
TEST(ControlStatus, BitmapAcksAddUpAndAnErrorIsTakenFirst) {
  ControlState &s = lvx::control_state();
  {
    lvx::LinkLockGuard lock;  // as the receive thread holds it
    s.ack_count = 0;
    s.ack_error = 0;
    EXPECT_EQ(apply_status(s, status_packet(11, 50, 3, 0, "")), 37);
    apply_status(s, status_packet(12, 50, 4, 0, ""));
    apply_status(s, status_packet(13, 50, 0xFFFE, 0, ""));
    EXPECT_EQ(s.last_ack_serial, 13u);
    EXPECT_EQ(s.ack_count, 7);
  }
  EXPECT_EQ(lvx::take_bitmap_ack_count(), -2);
  EXPECT_EQ(lvx::take_bitmap_ack_count(), 7);
  EXPECT_EQ(lvx::take_bitmap_ack_count(), 0);
}

// The plain "show_fixpoint x y" text and hiding the target are checked end to end.
TEST(ControlStatus, ShowTargetTextOrElseTheValues) {
  ControlState s;
  EXPECT_EQ(apply_status(s, status_packet(1, 100, 9, 9, "show_fixpoint-1.5 2")), 19 + 35);
  EXPECT_FLOAT_EQ(s.target_x, -1.5f);  // the numbers may follow the keyword directly
  EXPECT_FLOAT_EQ(s.target_y, 2.0f);
  for (const char *text :
       {"", "show_fixpoint", "show_fixpoint 512.5", "SHOW_FIXPOINT 1 2", "show_fixpoin 1 2"}) {
    apply_status(s, status_packet(1, 100, 640, 65535, text));
    EXPECT_FLOAT_EQ(s.target_x, 640.0f) << text;
    EXPECT_FLOAT_EQ(s.target_y, 65535.0f) << text;  // the values are unsigned
  }
}

TEST(ControlStatus, CalibrationInfoKeepsTextAndResult) {
  ControlState s;
  EXPECT_EQ(apply_status(s, status_packet(3, 103, 0xFFFF, 0, "cal ok")), 6 + 35);
  EXPECT_EQ(s.cal_result, -1);
  apply_status(s, status_packet(3, 103, 2, 0, std::string(150, 'c')));
  EXPECT_EQ(std::string(s.cal_message), std::string(99, 'c'));
  EXPECT_EQ(s.cal_result, 2);
}

TEST(ControlStatus, MenuSelectionsCountUntilTheTrackerEntersAMenu) {
  ControlState &s = lvx::control_state();
  lvx::LinkLockGuard lock;
  lvx::clear_user_menu_fields();
  EXPECT_EQ(apply_status(s, status_packet(4, 150, 2, 5, "")), 37);
  apply_status(s, status_packet(5, 150, 3, 6, ""));
  EXPECT_EQ((std::vector<int>{s.menu, s.menu_selection, s.menu_selection_count}),
            (std::vector<int>{3, 6, 2}));
  // Moving between menus (mode words 5 to 8) keeps the selection; entering one clears it.
  lvx::on_tracker_mode_word(5, 8);
  EXPECT_EQ(s.menu_selection_count.load(), 2);
  lvx::on_tracker_mode_word(8, 9);
  EXPECT_EQ(s.menu_selection_count.load(), 2);
  lvx::on_tracker_mode_word(4, 5);
  EXPECT_EQ((std::vector<int>{s.menu, s.menu_selection, s.menu_selection_count}),
            (std::vector<int>{0, 0, 0}));
}

TEST(ControlStatus, NoticesAndUnknownTypesChangeNothing) {
  ControlState s;
  s.cal_result = 7;
  s.target_visible = 1;
  EXPECT_EQ(apply_status(s, status_packet(20, 102, 1, 1, "xy")), 2 + 35);
  EXPECT_EQ(apply_status(s, status_packet(21, 128, 1, 1, "")), 37);
  EXPECT_EQ(lvx::last_status_serial(), 21);
  EXPECT_EQ(s.cal_result, 7);
  EXPECT_EQ(apply_status(s, status_packet(22, 77, 0, 0, "abc")), 3 + 34);
  EXPECT_EQ(lvx::last_status_serial(), 22);
  EXPECT_EQ(s.cal_result, 7);
  EXPECT_EQ(s.target_visible.load(), 1);
}

TEST(KeyPackets, SentKeyAndButtonGoldenBytes) {
  auto key = lvx::encode_key_packet(0x1B41, 0x0203, 0x7F);
  const uint8_t key_bytes[32] = {2, 20, 0, 0, 0, 0, 0, 0, 0,    0,    0,    0,    0,    0, 0, 0,
                                 0, 0,  0, 0, 0, 0, 0, 0, 0x1B, 0x41, 0x02, 0x03, 0x7F, 0, 0, 0};
  EXPECT_EQ(std::memcmp(key.data(), key_bytes, 32), 0);

  // A button carries its number in byte 29; the code and modifier fields stay zero.
  auto button = lvx::encode_key_packet(0xFF00, 3, kReleased);
  const uint8_t button_bytes[32] = {2, 20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,    0, 0, 0,
                                    0, 0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 3, 0, 0};
  EXPECT_EQ(std::memcmp(button.data(), button_bytes, 32), 0);
}

TEST(KeyPackets, ReceivedKeyIsQueuedAndTheSeventeenthDropsTheOldest) {
  ControlState s;
  EXPECT_EQ(apply_key(s, key_packet(0x8123, 0x0305, kReleased, 0, 0xABCD, 987654)), 30);
  lvx::TrackerKey k;
  ASSERT_TRUE(s.keys.pop(&k));
  EXPECT_EQ(k.code, static_cast<int16_t>(0x8123));
  EXPECT_EQ(k.modifiers, 0x05);  // low byte only
  EXPECT_EQ(k.state, 0xFF);
  EXPECT_EQ(k.raw, 0xABCD);
  EXPECT_EQ(k.time, 987654u);

  for (uint16_t code = 1; code <= 17; ++code) apply_key(s, key_packet(code, 0, 0, 0, 0, code));
  EXPECT_EQ(s.keys.size(), 16);
  ASSERT_TRUE(s.keys.pop(&k));
  EXPECT_EQ(k.code, 2);
  for (int i = 0; i < 15; ++i) s.keys.pop(&k);
  EXPECT_EQ(k.code, 17);
  EXPECT_FALSE(s.keys.pop(&k));
}

TEST(KeyPackets, ButtonPressAndReleaseWithButtonsAsKeys) {
  ControlState s;
  s.button_states = 0x0001;  // button 1 already held
  EXPECT_EQ(apply_key(s, key_packet(0, 0, kPressed, 3, 0, 100)), 32);
  EXPECT_EQ(s.button_states.load(), 0x0005);
  EXPECT_EQ(s.button_change, 0x0105);
  EXPECT_EQ(s.button_change_time, 100u);
  lvx::TrackerKey k;
  ASSERT_TRUE(s.keys.pop(&k));
  EXPECT_EQ(k.modifiers, 3);
  EXPECT_EQ(k.time, 100u);

  EXPECT_EQ(apply_key(s, key_packet(0, 0, kReleased, 3, 0, 150)), 32);
  EXPECT_EQ(s.button_states.load(), 0x0001);
  EXPECT_EQ(s.button_change, 0x0101);
  EXPECT_EQ(s.button_change_time, 150u);
  EXPECT_EQ(s.last_button, 3);  // a release leaves the last press alone
  EXPECT_EQ(s.last_button_time, 100u);
  ASSERT_TRUE(s.keys.pop(&k));
  EXPECT_EQ(k.state, kReleased);
}

TEST(KeyPackets, ButtonEdgesAndButtonsAsKeysOff) {
  ControlState s;
  s.buttons_as_keys = false;
  apply_key(s, key_packet(0, 0, kPressed, 15, 0, 5));
  EXPECT_EQ(s.button_states.load(), 0x4000);
  EXPECT_EQ(s.keys.size(), 0);

  // A state other than pressed or released changes nothing.
  s.button_change = 0;
  apply_key(s, key_packet(0, 0, 3, 2, 0, 6));
  EXPECT_EQ(s.button_states.load(), 0x4000);
  EXPECT_EQ(s.button_change, 0);

  // Button 16 and above is no button, but still a key while buttons count as keys.
  EXPECT_EQ(apply_key(s, key_packet(0, 0, kPressed, 16, 0, 7)), 32);
  EXPECT_EQ(s.button_states.load(), 0x4000);
  EXPECT_EQ(s.last_button, 15);
  EXPECT_EQ(s.keys.size(), 0);
  s.buttons_as_keys = true;
  apply_key(s, key_packet(0, 0, kPressed, 200, 0, 8));
  lvx::TrackerKey k;
  ASSERT_TRUE(s.keys.pop(&k));
  EXPECT_EQ(k.code, -256);
  EXPECT_EQ(k.modifiers, 200);
  EXPECT_EQ(s.button_states.load(), 0x4000);
}

TEST(KeyPackets, FlushEchoEmptiesQueueAndSetsButtonStates) {
  ControlState s;
  apply_key(s, key_packet('a', 0, 0, 0, 0, 1));
  apply_key(s, key_packet(0, 0, kPressed, 1, 0, 2));
  ASSERT_EQ(s.keys.size(), 2);
  EXPECT_EQ(apply_key(s, key_packet(0xFFF0, 0x0A05, 0, 0, 0, 300)), 30);
  EXPECT_EQ(s.keys.size(), 0);
  EXPECT_EQ(s.button_states.load(), 0x05);
  EXPECT_EQ(s.button_change, 0);
  EXPECT_EQ(s.button_change_time, 300u);
}

// A packet too short for its fields is refused, never read as zeros: the handler drops the rest
// of the buffer (0) and nothing changes.
TEST(ShortPackets, StatusAndKeyPacketsCutShortAreRefused) {
  ControlState s;
  s.request_serial = 9;
  s.cal_result = 5;
  lvx::set_last_status_serial(1);
  // A read reply whose text length field is cut off: read as zeros it would be filed empty.
  std::vector<uint8_t> reply = status_packet(9, 21, 0, 0, "");
  reply.resize(lvx::status_pkt::kTextLength + 1);
  EXPECT_EQ(apply_status(s, reply), 0);
  EXPECT_EQ(s.reply_state.load(), lvx::kNoReplyYet);
  EXPECT_EQ(lvx::last_status_serial(), 1);
  // A calibration notice that ends inside its first value.
  std::vector<uint8_t> cal = status_packet(9, 103, 0, 0, "");
  cal.resize(lvx::status_pkt::kValue1 + 1);
  EXPECT_EQ(apply_status(s, cal), 0);
  EXPECT_EQ(s.cal_result, 5);
  // The fields alone, without a text, are whole.
  std::vector<uint8_t> bare = status_packet(9, 21, 0, 0, "", 0, 0);
  EXPECT_EQ(apply_status(s, bare), 34);
  EXPECT_EQ(s.reply_state.load(), 0);

  // A flush echo cut inside its modifiers would clear the queue and every button.
  s.keys.push(lvx::TrackerKey{'a', 0, 0, 0, 1});
  s.button_states = 0x0003;
  EXPECT_EQ(apply_key(s, key_packet(0xFFF0, 0x0001, 0, 0, 0, 1, lvx::key_pkt::kModifiers + 1)), 0);
  EXPECT_EQ(apply_key(s, key_packet('b', 0, 0, 0, 0, 1, lvx::key_pkt::kButton)), 0);
  EXPECT_EQ(s.keys.size(), 1);
  EXPECT_EQ(s.button_states.load(), 0x0003);
  // A button packet without its last two bytes is whole enough to apply; it uses the rest.
  EXPECT_EQ(apply_key(s, key_packet(0, 0, kPressed, 3, 0, 1, lvx::key_pkt::kKeyUsed)), 0);
  EXPECT_EQ(s.button_states.load(), 0x0007);
  EXPECT_EQ(s.keys.size(), 2);
}

TEST(ControlBitmap, PacketOfTheLargestSize) {
  std::vector<uint8_t> data(512);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 1);
  std::vector<uint8_t> p = lvx::encode_bitmap_packet(data.data(), 512, 0xA1B2);
  ASSERT_EQ(p.size(), 537u);
  const uint8_t header[24] = {6, 20, 0, 0, 0, 0, 0, 0, 0,    0,    0,    0,
                              0, 0,  0, 0, 0, 0, 0, 0, 0xA1, 0xB2, 0x02, 0x00};
  EXPECT_EQ(std::memcmp(p.data(), header, 24), 0);
  EXPECT_EQ(std::memcmp(p.data() + 24, data.data(), 512), 0);
  EXPECT_EQ(p[536], 0);

  std::vector<uint8_t> empty = lvx::encode_bitmap_packet(nullptr, 0, 1);
  ASSERT_EQ(empty.size(), 25u);
  EXPECT_EQ(empty[24], 0);
}

TEST(ControlRequests, LinkSyncStatusVersionWindows) {
  for (double v : {5.16, 6.0, 6.12}) EXPECT_FALSE(lvx::wants_link_sync_status(true, v)) << v;
  for (double v : {5.17, 5.99, 6.13}) EXPECT_TRUE(lvx::wants_link_sync_status(true, v)) << v;
  EXPECT_FALSE(lvx::wants_link_sync_status(false, 6.13));
}

}  // namespace
