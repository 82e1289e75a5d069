// Golden bytes of the data-stream encoders, written out by hand from the wire format: sample
// items with every kind of optional field, extension blocks, block markers and the DATA packet.
#include <gtest/gtest.h>

#include "common/wire_reader.h"
#include "lumavex_core.h"
#include "sim/data_items.h"

namespace {

namespace build = lvxsim::build;
using Bytes = std::vector<uint8_t>;

TEST(SimDataItems, SampleItemGoldenBytes) {
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

  // Aux words (as many as the low 4 bits of the type byte say), extension blocks (length, type,
  // data; a zero length ends the chain) and skip chunks (c, then c + 1 bytes; zero ends). Blocks
  // and chunks that cannot be expressed (empty, too long, a single byte) are left out.
  build::SampleFields r;
  r.flags = SF_SAMPLE | SF_AUX | SF_BLOCKS | SF_SKIP_CHUNKS;
  r.delta = 1;
  r.aux_type = 0x22;
  r.aux = {0x0102, 0x0304, 0xFFFF};
  r.blocks = {{9, {0xAB, 0xCD}}, {9, {}}, {4, Bytes(256, 1)}};
  r.skip_chunks = {{1, 2}, {3}, Bytes(257, 0)};
  EXPECT_EQ(build::sample_body(r), (Bytes{0x00, 0x1D, 0x01, 0x22, 0x01, 0x02, 0x03, 0x04, 0x02,
                                          0x09, 0xAB, 0xCD, 0x00, 0x01, 0x01, 0x02, 0x00}));
}

TEST(SimDataItems, ExtensionBlockLayouts) {
  std::array<int16_t, 12> raw{};
  raw[11] = -2;
  Bytes b1 = build::block_type1(raw).data;
  ASSERT_EQ(b1.size(), 24u);  // twelve 16-bit values
  EXPECT_EQ(lvx::WireReader(b1).u16_at(22), 0xFFFE);

  // Twelve floats, a word, six floats, then the gaze of both eyes; 1e8 marks a missing float.
  build::Block2 v;
  v.word = 0xDEADBEEF;
  v.left_gaze_x = 512.25f;
  Bytes b2 = build::block_type2(v).data;
  ASSERT_EQ(b2.size(), 92u);
  EXPECT_EQ(lvx::WireReader(b2).u32_at(48), 0xDEADBEEFu);
  EXPECT_EQ(lvx::WireReader(b2).u32_at(76), 0x44001000u);  // 512.25
  EXPECT_EQ(lvx::WireReader(b2).u32_at(80), 0x4CBEBC20u);  // 1e8

  // Type 3: two lead floats, one point or three candidates, five points.
  std::array<float, 10> five{};
  EXPECT_EQ(build::block_type3({1, 2}, std::array<float, 6>{}, five).data.size(), 72u);
  Bytes b3 = build::block_type3({1, 2}, std::array<float, 2>{0.5f, 0}, five).data;
  ASSERT_EQ(b3.size(), 56u);
  EXPECT_EQ(lvx::WireReader(b3).u32_at(8), 0x3F000000u);  // 0.5
  EXPECT_TRUE(build::block_type3({0, 0}, std::array<float, 3>{}, five).data.empty());
}

TEST(SimDataItems, BlockMarkersGoldenBytes) {
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
  ev.mode_word = 0x0131;
  ev.event_data_flags = 0x1234;
  ev.event_type_flags = 0x8005;
  EXPECT_EQ(build::event_block_start_body(ev),
            (Bytes{0x11, 0x00, 0x21, 0x00, 0x00, 0x00, 0x07, 0x4B, 0x01, 0x31, 0x00, 0x00, 0xB4,
                   0x12, 0x34, 0x55, 0x40, 0x05, 0x00}));
  EXPECT_EQ(build::swap_eye_bits(0x4003), 0x8003);
  EXPECT_EQ(build::swap_eye_bits(0xC00F), 0xC00F);
}

TEST(SimDataItems, DataPacketLayout) {
  EXPECT_EQ(build::item_header(0x5000, false, false), 0x3FFF);  // the length saturates
  build::DataPacketFields f;
  f.sequence = 0x01020304;
  f.position_prescaler = 100;
  f.velocity_prescaler = 20;
  f.pupil_prescaler = 3;
  f.packet_flags = 0x8001;
  f.rate_x10 = 20000;
  Bytes p = build::data_packet(f, {{false, Bytes(12, 0xAA)}, {true, Bytes(8, 0xEE)}});
  lvx::Bytes b(p);
  ASSERT_EQ(p.size(), 24u + 47u);  // L = (2 + 12) + (2 + 8)
  EXPECT_EQ(p[0], 4);
  EXPECT_EQ(lvx::WireReader(b).u32_at(4), 0x01020304u);
  EXPECT_EQ(lvx::WireReader(b).u16_at(20), 24);
  EXPECT_EQ(p[22], 0);
  EXPECT_EQ(lvx::WireReader(b).u16_at(30), 100);
  EXPECT_EQ(lvx::WireReader(b).u16_at(32), 20);
  EXPECT_EQ(lvx::WireReader(b).u16_at(34), 3);
  EXPECT_EQ(lvx::WireReader(b).u16_at(36), 0x8001);
  EXPECT_EQ(lvx::WireReader(b).u16_at(38), 20000);
  EXPECT_EQ(lvx::WireReader(b).u16_at(44), 0x000C);  // a sample item, not last
  EXPECT_EQ(p[46], 0xAA);
  EXPECT_EQ(lvx::WireReader(b).u16_at(58), 0xC008);  // an event item, last
  EXPECT_EQ(p[67], 0xEE);
  EXPECT_EQ(Bytes(p.begin() + 68, p.end()), Bytes(3, 0));  // zero tail
  EXPECT_EQ(build::data_packet({}, {}).size(), 47u);
}

}  // namespace
