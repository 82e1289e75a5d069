#include "sim/packet_decoders.h"

#include <string_view>

#include "sim/link_codes.h"

namespace lvxsim {

uint8_t packet_type(lvx::Bytes packet) {
  lvx::WireReader r(packet);
  const uint8_t type = r.u8_at(kTypeOffset);
  return r.ok() ? type : 0;
}

bool has_header_length(lvx::Bytes packet) {
  lvx::WireReader r(packet);
  const uint8_t length = r.u8_at(kHeaderLengthOffset);
  return r.ok() && length == kHeaderSize;
}

size_t declared_length(uint8_t type, lvx::Bytes packet) {
  lvx::WireReader r(packet);
  size_t length = 0;
  switch (type) {
    case kCommandPkt:
      length = kCommandFixedSize + r.u16_at(kCommandLengthOffset);
      break;
    case kMessagePkt:
      length = kMessageFixedSize + r.u16_at(kMessageLengthOffset);
      break;
    case kConnectPkt:
      length = kConnectSize;
      break;
    case kNodePkt:
      length = kNodeOverhead + r.u16_at(kNodeLengthOffset);
      break;
    case kKeyPkt:
      length = kKeyPacketSize;
      break;
    case kImagePkt:
      length = kImageFixedSize + r.u16_at(kBitmapSizeOffset);
      break;
    default:
      break;
  }
  return r.ok() ? length : 0;
}

std::optional<CommandPacket> decode_command(lvx::Bytes packet) {
  lvx::WireReader r(packet);
  if (packet_type(packet) != kCommandPkt || !r.has(0, kCommandFixedSize)) return std::nullopt;
  CommandPacket c;
  c.serial = r.u32_at(kSerialOffset);
  c.value = r.u32_at(kCommandValueOffset);
  c.type = r.u8_at(kCommandTypeOffset);
  c.text = r.text_at(kCommandTextOffset, r.u16_at(kCommandLengthOffset));
  if (!r.ok()) return std::nullopt;
  return c;
}

std::optional<MessagePacket> decode_message(lvx::Bytes packet) {
  lvx::WireReader r(packet);
  if (packet_type(packet) != kMessagePkt || !r.has(0, kMessageFixedSize)) return std::nullopt;
  MessagePacket m;
  m.serial = r.u32_at(kSerialOffset);
  m.offset_ms = static_cast<int32_t>(r.u32_at(kMessageOffsetField));
  m.text = r.text_at(kMessageTextOffset, r.u16_at(kMessageLengthOffset));
  if (!r.ok()) return std::nullopt;
  return m;
}

std::optional<ConnectPacket> decode_connect(lvx::Bytes packet) {
  lvx::WireReader r(packet);
  if (packet_type(packet) != kConnectPkt) return std::nullopt;
  ConnectPacket c;
  c.code = r.u8_at(kConnectCodeOffset);
  c.tracker_name = r.text_at(kTrackerNameOffset, kNameSize);
  c.remote_name = r.text_at(kRemoteNameOffset, kNameSize);
  c.link_identity = r.text_at(kIdentityOffset, kIdentitySize).starts_with(kIdentity);
  if (!r.ok()) return std::nullopt;
  return c;
}

std::optional<std::vector<uint8_t>> decode_node(lvx::Bytes packet) {
  lvx::WireReader r(packet);
  if (packet_type(packet) != kNodePkt) return std::nullopt;
  const size_t n = r.u16_at(kNodeLengthOffset);
  const lvx::Bytes payload = r.bytes_at(kNodePayloadOffset, n);
  if (!r.ok() || n > kNodeMaxPayload || !r.has(0, n + kNodeOverhead)) return std::nullopt;
  return std::vector<uint8_t>(payload.begin(), payload.end());
}

std::optional<KeyPacket> decode_key(lvx::Bytes packet) {
  lvx::WireReader r(packet);
  if (packet_type(packet) != kKeyPkt) return std::nullopt;
  KeyPacket k;
  k.code = r.u16_at(kKeyCodeOffset);
  k.modifiers = r.u16_at(kKeyModifiersOffset);
  k.state = static_cast<int8_t>(r.u8_at(kKeyStateOffset));
  k.button = r.u8_at(kKeyButtonOffset);
  if (!r.ok()) return std::nullopt;
  if (r.has(kKeyRawOffset, sizeof k.raw)) k.raw = r.u16_at(kKeyRawOffset);
  return k;
}

std::optional<BitmapPacket> decode_bitmap(lvx::Bytes packet) {
  lvx::WireReader r(packet);
  if (packet_type(packet) != kImagePkt) return std::nullopt;
  BitmapPacket b;
  b.sequence = r.u16_at(kBitmapSequenceOffset);
  b.data = r.bytes_at(kBitmapDataOffset, r.u16_at(kBitmapSizeOffset));
  if (!r.ok()) return std::nullopt;
  return b;
}

}  // namespace lvxsim
