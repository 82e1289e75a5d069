// The TCP stream's framing: frames whole, held back until complete, refused when corrupt; and
// the outgoing length prefix.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "link/tcp_framing.h"

namespace {

using lvx::Bytes;
using lvx::next_tcp_frame;
using lvx::TcpFrameFault;
using lvx::TcpFrameKind;

std::vector<uint8_t> frame(size_t length, uint8_t fill = 0xA5) {
  std::vector<uint8_t> f(std::max<size_t>(4 + length, 4), fill);  // never shorter than the prefix
  f[0] = 'L';
  f[1] = 'V';
  f[2] = static_cast<uint8_t>(length >> 8);
  f[3] = static_cast<uint8_t>(length & 0xFF);
  return f;
}

TEST(TcpFraming, WholeFramesAndTheBytesAfterThem) {
  std::vector<uint8_t> held = frame(30, 1);
  std::vector<uint8_t> second = frame(0);
  held.insert(held.end(), second.begin(), second.end());
  held.push_back('L');  // the start of a third
  lvx::TcpFrame f = next_tcp_frame(held);
  ASSERT_EQ(f.kind, TcpFrameKind::kFrame);
  EXPECT_EQ(f.size, 34u);
  EXPECT_EQ(f.length, 30u);
  ASSERT_EQ(f.payload.size(), 30u);
  EXPECT_EQ(f.payload.data(), held.data() + 4);
  // An empty frame is a frame: it carries nothing, and the walk moves past it.
  f = next_tcp_frame(Bytes(held).subspan(34));
  ASSERT_EQ(f.kind, TcpFrameKind::kFrame);
  EXPECT_EQ(f.size, 4u);
  EXPECT_TRUE(f.payload.empty());
  EXPECT_EQ(next_tcp_frame(Bytes(held).subspan(38)).kind, TcpFrameKind::kNeedMore);
}

TEST(TcpFraming, CorruptStartsAreRefusedAsSoonAsTheyShow) {
  for (const std::vector<uint8_t> &bad : std::vector<std::vector<uint8_t>>{
           {'X'}, {'L', 'X'}, {'l', 'v', 0, 0}, {'V', 'L', 0, 4, 1, 2, 3, 4}, {0, 0, 0, 0}}) {
    lvx::TcpFrame f = next_tcp_frame(bad);
    EXPECT_EQ(f.kind, TcpFrameKind::kCorrupt);
    EXPECT_EQ(f.fault, TcpFrameFault::kBadPrefix);
    EXPECT_STREQ(lvx::tcp_frame_fault_text(f.fault), "invalid prefix");
  }
  // Over 1500 bytes is refused at the header, before any of it could be waited for.
  for (size_t length : {size_t{1501}, size_t{0xFFFF}}) {
    std::vector<uint8_t> header = frame(length);
    header.resize(4);
    lvx::TcpFrame f = next_tcp_frame(header);
    EXPECT_EQ(f.kind, TcpFrameKind::kCorrupt);
    EXPECT_EQ(f.fault, TcpFrameFault::kTooLong);
    EXPECT_EQ(f.length, length);
    EXPECT_STREQ(lvx::tcp_frame_fault_text(f.fault), "invalid dlen");
  }
}

// A stream of frames cut into pieces of every size from 1 to 40 bytes, held and parsed as the
// receive thread does: every frame comes out once, whole and in order, and no proper start of a
// frame (the one-byte pieces show each) is taken for a frame or for corruption.
TEST(TcpFraming, AStreamCutAnywhereGivesTheSameFrames) {
  std::vector<uint8_t> stream;
  std::vector<size_t> lengths{20, 0, 137, 1500, 1, 64};
  for (size_t i = 0; i < lengths.size(); ++i) {
    std::vector<uint8_t> f = frame(lengths[i], static_cast<uint8_t>(i + 1));
    stream.insert(stream.end(), f.begin(), f.end());
  }
  for (size_t piece = 1; piece <= 40; ++piece) {
    std::vector<uint8_t> held;
    std::vector<size_t> got;
    for (size_t at = 0; at < stream.size(); at += piece) {
      size_t end = std::min(stream.size(), at + piece);
      held.insert(held.end(), stream.begin() + static_cast<std::ptrdiff_t>(at),
                  stream.begin() + static_cast<std::ptrdiff_t>(end));
      size_t off = 0;
      for (lvx::TcpFrame f;
           (f = next_tcp_frame(Bytes(held).subspan(off))).kind == TcpFrameKind::kFrame;) {
        for (uint8_t b : f.payload) ASSERT_EQ(b, got.size() + 1) << piece;
        got.push_back(f.length);
        off += f.size;
      }
      ASSERT_NE(next_tcp_frame(Bytes(held).subspan(off)).kind, TcpFrameKind::kCorrupt) << piece;
      held.erase(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(off));
    }
    EXPECT_EQ(got, lengths) << piece;
    EXPECT_TRUE(held.empty()) << piece;
  }
}

TEST(TcpFraming, OutgoingFramesCarryTheLengthAlone) {
  std::vector<uint8_t> packet(300, 7);
  std::vector<uint8_t> out(302, 0);
  ASSERT_EQ(lvx::encode_tcp_outgoing_frame(packet, out), 302u);
  EXPECT_EQ(out[0], 0x01);
  EXPECT_EQ(out[1], 0x2C);
  EXPECT_EQ(out[2], 7);
  EXPECT_EQ(out[301], 7);
  std::vector<uint8_t> small(301, 0);
  EXPECT_EQ(lvx::encode_tcp_outgoing_frame(packet, small), 0u);  // no room: nothing written
  EXPECT_EQ(small[0], 0);
}

}  // namespace
