#include "link/packets.h"

#include <cstring>

#include "common/wire_reader.h"

namespace lvx {

std::optional<PacketHeader> decode_header(Bytes p) {
  WireReader r(p);
  PacketHeader h;
  h.type = r.u8_at(hdr::kType);
  h.length = r.u8_at(hdr::kLength);
  h.mode = r.u8_at(hdr::kMode);
  h.state = r.u8_at(hdr::kState);
  h.sequence = r.u32_at(hdr::kSequence);
  h.time_ms = r.u32_at(hdr::kTimeMs);
  h.time_us = r.u16_at(hdr::kTimeUs);
  h.word14 = r.u16_at(hdr::kWord14);
  h.word16 = r.u16_at(hdr::kWord16);
  h.byte18 = r.u8_at(hdr::kByte18);
  h.byte19 = r.u8_at(hdr::kByte19);
  if (!r.ok()) return std::nullopt;
  return h;
}

std::optional<ConnectPacket> decode_connect_packet(Bytes p) {
  WireReader r(p);
  ConnectPacket c;
  c.code = r.u8_at(conn::kCode);
  c.major = r.u8_at(conn::kMajor);
  c.minor = r.u8_at(conn::kMinor);
  c.tracker_name = r.text_at(conn::kTrackerName, conn::kNameSize);
  c.remote_name = r.text_at(conn::kRemoteName, conn::kNameSize);
  c.identity = r.text_at(conn::kIdentity, conn::kIdentitySize);
  c.version_text = r.text_at(conn::kVersionText, conn::kVersionTextSize);
  c.model = static_cast<char>(r.u8_at(conn::kModelChar));
  if (!r.ok()) return std::nullopt;
  return c;
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
  put_text(b, conn::kTrackerName, conn::kNameSize, tracker_name);
  put_text(b, conn::kRemoteName, conn::kNameSize, own_name);
  put_text(b, conn::kIdentity, conn::kIdentitySize, conn::kIdentityText);
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
