// The tracker's decoders of the display's packets: a packet cut short decodes to nothing, rather
// than to a shorter text or to zeros for what is missing.
#include <gtest/gtest.h>

#include "raw_display.h"
#include "sim/packet_decoders.h"

namespace {

TEST(PacketDecoders, CutPacketsDecodeToNothing) {
  using lvx::Bytes;
  const simtest::Packet command = simtest::command_pkt(22, 7, "set_idle_mode");
  const auto whole = lvxsim::decode_command(command);
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->serial, 7u);
  EXPECT_EQ(whole->text, "set_idle_mode");
  // Cut inside its text it would be run as "set_idle_m".
  EXPECT_FALSE(lvxsim::decode_command(Bytes(command).first(38)));

  const auto connect = lvxsim::build::connect_packet(lvxsim::kConnectRequest, 3, 2, "", "display",
                                                     lvxsim::kIdentity);
  EXPECT_TRUE(lvxsim::decode_connect(connect));
  EXPECT_FALSE(lvxsim::decode_connect(Bytes(connect).first(lvxsim::kConnectSize - 1)));

  const auto node = lvxsim::build::node_packet({'a', 'b', 'c'});
  EXPECT_EQ(lvxsim::decode_node(node), (std::vector<uint8_t>{'a', 'b', 'c'}));
  EXPECT_FALSE(lvxsim::decode_node(Bytes(node).first(node.size() - 1)));

  simtest::Packet key = simtest::plain_pkt(lvxsim::kKeyPkt, lvxsim::kKeyPacketSize);
  EXPECT_TRUE(lvxsim::decode_key(key));
  EXPECT_FALSE(lvxsim::decode_key(Bytes(key).first(lvxsim::kKeyButtonOffset)));

  simtest::Packet bitmap = simtest::plain_pkt(lvxsim::kImagePkt, 30);
  lvx::put_u16(bitmap, lvxsim::kBitmapSizeOffset, 10);
  EXPECT_FALSE(lvxsim::decode_bitmap(bitmap));
  bitmap.resize(lvxsim::kImageFixedSize + 10);
  EXPECT_EQ(lvxsim::decode_bitmap(bitmap)->data.size(), 10u);
}

}  // namespace
