// Link packet wire formats: the 20-byte header every packet opens with, the 136-byte connect
// packet and the node-message packet. Encoders write into byte arrays; decoders read through the
// cursor (common/wire_reader.h) and give nothing for bytes too short for the fields.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "common/byte_io.h"
#include "lumavex_core.h"

namespace lvx {

constexpr size_t kHeaderSize = 20;
constexpr size_t kConnectPacketSize = 136;
// A connect packet counts as one byte more than its length when a received buffer is walked.
constexpr int kConnectPacketUsed = 137;
constexpr size_t kMaxNodePayload = LUMAVEX_MAX_NODE_MESSAGE;

// Header field offsets.
namespace hdr {
constexpr size_t kType = 0, kLength = 1, kMode = 2, kState = 3, kSequence = 4, kTimeMs = 8,
                 kTimeUs = 12, kWord14 = 14, kWord16 = 16, kByte18 = 18, kByte19 = 19;
}

// Connect packet field offsets and sizes, and the identity text every connect packet carries. In
// the tracker's reply the identity field goes on with a blank and its version text ("QX VELOTRIS
// LUMAVEX RX 5.7"): the version text starts at kVersionText, and the character after its model's
// first word ("LUMAVEX ") stands at kModelChar.
namespace conn {
constexpr size_t kCode = 20, kMajor = 21, kMinor = 22, kTrackerName = 26, kRemoteName = 66,
                 kIdentity = 106, kVersionText = 118, kModelChar = 126;
constexpr size_t kNameSize = 40, kIdentitySize = 30,
                 kVersionTextSize = kIdentity + kIdentitySize - kVersionText;
constexpr std::string_view kIdentityText = "QX VELOTRIS LUMAVEX";
}  // namespace conn

enum ConnectCode : uint8_t {
  CONNECT_BUSYTEST = 1,
  CONNECT_REQUEST = 2,
  CONNECT_BROADCAST = 3,
  DISCONNECT_REQUEST = 0x10,
  POLL_TRACKERS = 0x11,
  POLL_REMOTES = 0x12,
  CONNECT_ACK = 0x81,
  CONNECT_BUSY = 0x82,
  DISCONNECT_ACK = 0x90,
  TRACKER_POLL_REPLY = 0x91,
  REMOTE_POLL_REPLY = 0x92,
};

// The header fields of a received packet.
struct PacketHeader {
  uint8_t type = 0;
  uint8_t length = 0;
  uint8_t mode = 0;
  uint8_t state = 0;
  uint32_t sequence = 0;
  uint32_t time_ms = 0;
  uint16_t time_us = 0;
  uint16_t word14 = 0;
  uint16_t word16 = 0;
  uint8_t byte18 = 0;
  uint8_t byte19 = 0;
  // The tracker time of the packet in microseconds.
  double tracker_usec() const { return static_cast<double>(time_ms) * 1000.0 + time_us; }
};

// The header of a received packet; nothing when the bytes are shorter than a header.
std::optional<PacketHeader> decode_header(Bytes packet);

// The fields of a received connect packet. The texts are views into the packet's bytes, each up
// to its NUL (or its field's end).
struct ConnectPacket {
  uint8_t code = 0;
  uint8_t major = 0;
  uint8_t minor = 0;
  std::string_view tracker_name;
  std::string_view remote_name;
  std::string_view identity;
  std::string_view version_text;
  char model = 0;
  // Every connect packet of the link opens its identity field with the identity text.
  bool has_link_identity() const { return identity.starts_with(conn::kIdentityText); }
};

// The fields of a connect packet; nothing when the bytes are shorter than its 136 bytes.
std::optional<ConnectPacket> decode_connect_packet(Bytes packet);

// Writes a header with the given type and length 20, everything else zero.
void encode_plain_header(MutableBytes packet, uint8_t type);

// A connect packet as the library sends it: protocol 3.2, the names and the identity text.
std::array<uint8_t, kConnectPacketSize> encode_connect_packet(uint8_t code,
                                                              std::string_view tracker_name,
                                                              std::string_view own_name);

// A node-message packet: 0xFF, 20, 16-bit length, payload, one trailing byte (size + 5 bytes).
std::vector<uint8_t> encode_node_packet(const void *data, uint16_t size);

}  // namespace lvx
