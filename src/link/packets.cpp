#include "link/packets.h"

#include <cstring>

namespace lvx {

PacketHeader decode_header(Bytes p) {
  PacketHeader h;
  h.type = get_u8(p, hdr::kType);
  h.length = get_u8(p, hdr::kLength);
  h.mode = get_u8(p, hdr::kMode);
  h.state = get_u8(p, hdr::kState);
  h.sequence = get_u32(p, hdr::kSequence);
  h.time_ms = get_u32(p, hdr::kTimeMs);
  h.time_us = get_u16(p, hdr::kTimeUs);
  h.word14 = get_u16(p, hdr::kWord14);
  h.word16 = get_u16(p, hdr::kWord16);
  h.byte18 = get_u8(p, hdr::kByte18);
  h.byte19 = get_u8(p, hdr::kByte19);
  return h;
}

void encode_plain_header(MutableBytes p, uint8_t type) {
  if (p.size() < kHeaderSize) return;
  std::memset(p.data(), 0, kHeaderSize);
  put_u8(p, hdr::kType, type);
  put_u8(p, hdr::kLength, static_cast<uint8_t>(kHeaderSize));
}

std::array<uint8_t, kConnectPacketSize> encode_connect_packet(uint8_t code,
                                                              std::string_view tracker_name,
                                                              std::string_view own_name) {
  std::array<uint8_t, kConnectPacketSize> p{};
  MutableBytes b(p);
  encode_plain_header(b, CONNECT_PKT);
  put_u8(b, conn::kCode, code);
  put_u8(b, conn::kMajor, LUMAVEX_LINK_PROTOCOL_MAJOR);
  put_u8(b, conn::kMinor, LUMAVEX_LINK_PROTOCOL_MINOR);
  put_text(b, conn::kTrackerName, 40, tracker_name);
  put_text(b, conn::kRemoteName, 40, own_name);
  put_text(b, conn::kIdentity, 30, conn::kIdentityText);
  return p;
}

std::vector<uint8_t> encode_node_packet(const void *data, uint16_t size) {
  std::vector<uint8_t> p(static_cast<size_t>(size) + 5, 0);
  MutableBytes b(p);
  put_u8(b, 0, NODE_PKT);
  put_u8(b, 1, static_cast<uint8_t>(kHeaderSize));
  put_u16(b, 2, size);
  if (size > 0 && data != nullptr) std::memcpy(p.data() + 4, data, size);
  return p;
}

}  // namespace lvx
