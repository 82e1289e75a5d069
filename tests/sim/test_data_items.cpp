// The data-stream encoders: golden bytes of a small sample item and of block markers, item
// headers, the DATA packet's length rules, event tags and the read flags and float values they
// imply, extension blocks and skip chunks.
#include <gtest/gtest.h>

#include <bit>

#include "data_reader.h"
#include "sim/data_items.h"

namespace {

namespace build = lvxsim::build;
using Bytes = std::vector<uint8_t>;

TEST(SimDataItems, SmallSampleItemGoldenBytes) {
  build::SampleFields s;
  s.flags = SF_SAMPLE | SF_LEFT | SF_FULL_TIME | SF_GAZE_XY | SF_PUPIL_SIZE;
  s.time = 0x01020304;
  s.gaze[0] = {1234, -5};
  s.gaze[1] = {7, 7};  // right eye not flagged: not written
  s.pupil_size[0] = 900;
  s.status = 0x1111;  // SF_STATUS clear: not written
  EXPECT_EQ(build::sample_body(s),
            (Bytes{0xA5, 0x01, 0x01, 0x02, 0x03, 0x04, 0x04, 0xD2, 0xFF, 0xFB, 0x03, 0x84}));

  // Delta time: one byte; both eyes: left pair before right pair, sizes likewise.
  s.flags = SF_SAMPLE | SF_LEFT | SF_RIGHT | SF_GAZE_XY | SF_PUPIL_SIZE | SF_BUTTONS;
  s.delta = 2;
  s.pupil_size[1] = 0xFFFF;
  s.buttons = 0x0102;
  EXPECT_EQ(build::sample_body(s), (Bytes{0xC5, 0x21, 0x02, 0x04, 0xD2, 0xFF, 0xFB, 0x00, 0x07,
                                          0x00, 0x07, 0x03, 0x84, 0xFF, 0xFF, 0x01, 0x02}));

  // In a packet: header 0x800C (12 bytes, sample item, last).
  build::SampleFields small;
  small.flags = SF_SAMPLE | SF_FULL_TIME;
  small.time = 9;
  Bytes p = build::data_packet({}, {{false, build::sample_body(small)}});
  EXPECT_EQ(lvx::get_u16(lvx::Bytes(p), 44), 0x8006);
}

TEST(SimDataItems, ItemHeaderBits) {
  EXPECT_EQ(build::item_header(12, false, false), 0x000C);
  EXPECT_EQ(build::item_header(12, true, false), 0x400C);
  EXPECT_EQ(build::item_header(0x3FFF, true, true), 0xFFFF);
  EXPECT_EQ(build::item_header(0x5000, false, false), 0x3FFF);  // the length saturates
}

TEST(SimDataItems, DataPacketLengthRules) {
  Bytes a(12, 0xAA);
  Bytes e(8, 0xEE);
  build::DataPacketFields f;
  f.sequence = 0x01020304;
  f.position_prescaler = 100;
  f.velocity_prescaler = 20;
  f.pupil_prescaler = 3;
  f.packet_flags = 0x8001;
  f.rate_x10 = 20000;
  Bytes p = build::data_packet(f, {{false, a}, {true, e}});
  lvx::Bytes b(p);
  ASSERT_EQ(p.size(), 24u + 47u);  // L = (2 + 12) + (2 + 8)
  EXPECT_EQ(p[0], 4);
  EXPECT_EQ(lvx::get_u32(b, 4), 0x01020304u);
  EXPECT_EQ(lvx::get_u16(b, 20), 24);
  EXPECT_EQ(p[22], 0);
  EXPECT_EQ(lvx::get_u16(b, 30), 100);
  EXPECT_EQ(lvx::get_u16(b, 32), 20);
  EXPECT_EQ(lvx::get_u16(b, 34), 3);
  EXPECT_EQ(lvx::get_u16(b, 36), 0x8001);
  EXPECT_EQ(lvx::get_u16(b, 38), 20000);
  EXPECT_EQ(lvx::get_u16(b, 44), 0x000C);                          // first item: not last
  EXPECT_EQ(lvx::get_u16(b, 58), 0xC008);                          // second: event, last
  for (size_t i = 68; i < p.size(); ++i) EXPECT_EQ(p[i], 0) << i;  // zero tail
  auto items = simtest::read_items(p);
  ASSERT_TRUE(items);
  ASSERT_EQ(items->size(), 2u);
  EXPECT_EQ((*items)[1].body, e);

  // An item offset of up to 3 stays inside L + 47; beyond that the packet grows to fit.
  f.item_offset = 3;
  p = build::data_packet(f, {{false, a}});
  EXPECT_EQ(p.size(), 14u + 47u);
  EXPECT_EQ(lvx::get_u16(lvx::Bytes(p), 47), 0x800C);
  f.item_offset = 10;
  p = build::data_packet(f, {{false, a}});
  EXPECT_EQ(p.size(), 44u + 10u + 14u);
  ASSERT_TRUE(simtest::read_items(p));

  // No items: L = 0, 47 bytes.
  EXPECT_EQ(build::data_packet({}, {}).size(), 47u);
}

TEST(SimDataItems, BlockMarkersGoldenBytesAndEyeBits) {
  EXPECT_EQ(build::block_end_body(EV_SAMPLE_BLOCK_END, 0x00ABCDEF),
            (Bytes{0x10, 0x00, 0x41, 0x00, 0xAB, 0xCD, 0xEF, 0x00}));

  build::SampleBlockStart m;
  m.time = 0x11223344;
  m.rate_x10 = 5000;
  m.position_prescaler = 10;
  m.velocity_prescaler = 100;
  m.pupil_prescaler = 1;
  m.block_word = 0x0042;
  m.rate_word = 500;
  m.mode_word = 0x0123;
  m.sample_flags = SF_LEFT | SF_SAMPLE | SF_GAZE_XY;
  // 5000 * 6553 = 32765000 = 0x01F3F448
  EXPECT_EQ(build::sample_block_start_body(m),
            (Bytes{0x0F, 0x00, 0x21, 0x11, 0x22, 0x33, 0x44, 0x41, 0x01, 0xF3, 0xF4, 0x48,
                   0x30, 0x00, 0x0A, 0x51, 0x00, 0x64, 0x56, 0x00, 0x01, 0x72, 0x00, 0x42,
                   0x93, 0x01, 0xF4, 0x4B, 0x01, 0x23, 0x00, 0x00, 0xB4, 0x84, 0x01, 0x00}));

  // The event block carries its type flags with bits 14 and 15 exchanged: the display's bit 15
  // (left) travels as bit 14.
  build::EventBlockStart ev;
  ev.time = 7;
  ev.event_data_flags = 0x1234;
  ev.event_type_flags = 0x8005;
  auto tags = simtest::read_tags(build::event_block_start_body(ev));
  ASSERT_TRUE(tags);
  ASSERT_TRUE(simtest::find_tag(*tags, 0x55));
  EXPECT_EQ(simtest::find_tag(*tags, 0x55)->u16(), 0x4005);
  EXPECT_EQ(simtest::find_tag(*tags, 0xB4)->u16(), 0x1234);
  EXPECT_EQ(simtest::find_tag(*tags, 0x21)->u32(), 7u);
  EXPECT_EQ(build::event_block_start_body(ev)[0], 17);

  EXPECT_EQ(build::swap_eye_bits(0x8000), 0x4000);
  EXPECT_EQ(build::swap_eye_bits(0x4000), 0x8000);
  EXPECT_EQ(build::swap_eye_bits(0xC00F), 0xC00F);
  EXPECT_EQ(build::swap_eye_bits(0x0003), 0x0003);
}

float float_at(const Bytes &d, size_t i) {
  return std::bit_cast<float>(lvx::get_u32(lvx::Bytes(d), 4 * i));
}

TEST(SimDataItems, ExtensionBlocksAuxAndSkipChunksRoundTrip) {
  std::array<int16_t, 12> raw{};
  for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<int16_t>(100 * i - 600);
  build::Block2 b2;
  b2.values.fill(1.5f);
  b2.word = 0xDEADBEEF;
  b2.left_gaze_x = 512.25f;
  std::array<float, 6> candidates{1, 2, 3, 4, 5, 6};
  std::array<float, 2> point{7, 8};
  std::array<float, 10> five{};
  build::ExtensionBlock long3 = build::block_type3({0.5f, 0.25f}, candidates, five);
  build::ExtensionBlock short3 = build::block_type3({0.5f, 0.25f}, point, five);
  EXPECT_EQ(build::block_type1(raw).data.size(), 24u);
  EXPECT_EQ(build::block_type2(b2).data.size(), 92u);
  EXPECT_EQ(long3.data.size(), 72u);
  EXPECT_EQ(short3.data.size(), 56u);
  EXPECT_TRUE(build::block_type3({0, 0}, std::array<float, 3>{}, five).data.empty());
  Bytes d2 = build::block_type2(b2).data;
  EXPECT_EQ(lvx::get_u32(lvx::Bytes(d2), 48), 0xDEADBEEFu);
  EXPECT_EQ(float_at(d2, 19), 512.25f);
  EXPECT_EQ(float_at(d2, 20), build::kMissingFloat);
  EXPECT_EQ(float_at(long3.data, 7), 6.0f);

  build::SampleFields s;
  s.flags = 0xFFFD;  // everything but SF_HALF_MS
  s.time = 123456;
  s.pupil[0] = {-1500, 20};
  s.pupil[1] = {1500, 21};
  s.href[0] = {-3000, 200};
  s.href[1] = {3000, 201};
  s.gaze[0] = {5000, 4000};
  s.gaze[1] = {5040, 3990};
  s.res_x = 360;
  s.res_y = 361;
  s.pupil_size[0] = 1100;
  s.pupil_size[1] = 1120;
  s.status = 3;
  s.input = 0x00F0;
  s.buttons = 1;
  s.aux_type = 0x23;  // three words
  s.aux = {9, 8, 7, 0, 0, 0, 0, 0};
  s.blocks = {build::block_type1(raw), build::block_type2(b2), long3, short3};
  s.skip_chunks = {{1, 2}, Bytes(256, 3)};
  Bytes body = build::sample_body(s);
  auto back = simtest::read_sample(body);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, s);

  // Blocks and chunks that cannot be expressed are left out rather than breaking the chain.
  build::SampleFields bad = s;
  bad.blocks.push_back({9, {}});
  bad.skip_chunks.push_back({1});
  bad.skip_chunks.push_back(Bytes(257, 1));
  EXPECT_EQ(build::sample_body(bad), body);
}

}  // namespace
