// Wire formats pinned to their bytes, and the tracker version rules.
#include <gtest/gtest.h>

#include <cstring>

#include "link/packets.h"
#include "link/version.h"

namespace {

TEST(ConnectPacket, GoldenBytes) {
  auto p = lvx::encode_connect_packet(lvx::CONNECT_REQUEST, "tracker", "display");
  ASSERT_EQ(p.size(), 136u);
  EXPECT_EQ(p[0], 0x63);
  EXPECT_EQ(p[1], 20);
  for (size_t i = 2; i < 20; ++i) EXPECT_EQ(p[i], 0) << i;
  EXPECT_EQ(p[20], 2);
  EXPECT_EQ(p[21], 3);
  EXPECT_EQ(p[22], 2);
  EXPECT_EQ(p[23] | p[24] | p[25], 0);
  EXPECT_STREQ(reinterpret_cast<const char *>(&p[26]), "tracker");
  EXPECT_STREQ(reinterpret_cast<const char *>(&p[66]), "display");
  EXPECT_EQ(std::memcmp(&p[106], "QX VELOTRIS LUMAVEX\0", 20), 0);
  for (size_t i = 126; i < 136; ++i) EXPECT_EQ(p[i], 0) << i;
}

TEST(NodePacket, LengthPrefixAndTrailingByte) {
  const char payload[] = {'a', 'b', 'c'};
  auto p = lvx::encode_node_packet(payload, 3);
  ASSERT_EQ(p.size(), 8u);
  EXPECT_EQ(p[0], 0xFF);
  EXPECT_EQ(p[1], 20);
  EXPECT_EQ(p[2], 0);
  EXPECT_EQ(p[3], 3);
  EXPECT_EQ(std::memcmp(&p[4], "abc", 3), 0);
  EXPECT_EQ(p[7], 0);
  EXPECT_EQ(lvx::encode_node_packet(payload, 0).size(), 5u);
}

TEST(Header, DecodesBigEndianFields) {
  const uint8_t raw[20] = {4,    20,   10,   1,    0x01, 0x02, 0x03, 0x04, 0x00, 0x01,
                           0x86, 0xA0, 0x03, 0xE7, 0xBE, 0xEF, 0xCA, 0xFE, 0x12, 0x34};
  ASSERT_TRUE(lvx::decode_header(lvx::Bytes(raw, 20)));
  lvx::PacketHeader h = *lvx::decode_header(lvx::Bytes(raw, 20));
  EXPECT_EQ(h.type, 4);
  EXPECT_EQ(h.mode, 10);
  EXPECT_EQ(h.state, 1);
  EXPECT_EQ(h.sequence, 0x01020304u);
  EXPECT_EQ(h.time_ms, 100000u);
  EXPECT_EQ(h.time_us, 999);
  EXPECT_EQ(h.word14, 0xBEEF);
  EXPECT_EQ(h.word16, 0xCAFE);
  EXPECT_EQ(h.byte18, 0x12);
  EXPECT_EQ(h.byte19, 0x34);
  EXPECT_DOUBLE_EQ(h.tracker_usec(), 100000999.0);
  // A header cut short is refused, not read as zeros.
  EXPECT_FALSE(lvx::decode_header(lvx::Bytes(raw, 19)));
}

TEST(TrackerVersion, GenerationFlagsAndValue) {
  EXPECT_EQ(lvx::generation_from_model_char('T'), 4);
  EXPECT_EQ(lvx::generation_from_model_char('K'), 2);
  EXPECT_EQ(lvx::generation_from_model_char('R'), 3);
  EXPECT_EQ(lvx::generation_from_model_char('Z'), 1);
  const struct {
    int generation;
    const char *text;
    double value;
    bool host_v5, large_packets, gen4, tq;
  } cases[] = {
      {3, "LUMAVEX RX 4.56", 4.56, false, false, false, false},
      {3, "LUMAVEX RX 5.7", 5.7, true, true, false, false},
      {3, "LUMAVEX RX 6.4", 6.4, true, false, false, false},
      {3, "LUMAVEX RX 6.52", 6.52, true, true, false, false},
      {3, "LUMAVEX RX 5.51", 5.51, true, false, false, false},
      {4, "LUMAVEX T 6.1", 6.1, true, true, true, false},
      {4, "LUMAVEX TQ 1.2", 1.2, true, true, true, true},
      {4, "LUMAVEX TQ", 0.0, false, false, false, true},
      // Older generations take the generation as their value.
      {1, "LUMAVEX K", 1.0, false, false, false, false},
      {2, "LUMAVEX KK 2.1", 2.0, false, false, false, false},
  };
  for (const auto &c : cases) {
    const lvx::TrackerVersion v = lvx::detect_version(c.generation, c.text);
    EXPECT_NEAR(v.value, c.value, 1e-9) << c.text;
    EXPECT_EQ(v.host_v5, c.host_v5) << c.text;
    EXPECT_EQ(v.large_packets, c.large_packets) << c.text;
    EXPECT_EQ(v.is_gen4, c.gen4) << c.text;
    EXPECT_EQ(v.is_tq, c.tq) << c.text;
  }
}

TEST(TrackerVersion, MinorScaling) {
  EXPECT_DOUBLE_EQ(lvx::scaled_minor(7), 0.7);
  EXPECT_DOUBLE_EQ(lvx::scaled_minor(56), 0.56);
  EXPECT_DOUBLE_EQ(lvx::scaled_minor(123), 0.123);
  EXPECT_DOUBLE_EQ(lvx::scaled_minor(1000), 0.0);
}

}  // namespace
