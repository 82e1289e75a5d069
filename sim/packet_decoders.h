// Packet decoders: the packets the tracker receives from the display, read field by field through
// the wire cursor. A packet too short for its fields decodes to nothing, and the tracker ignores
// it as a real tracker drops a malformed packet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/wire_reader.h"

namespace lvxsim {

// The packet type (header byte 0); 0 when there are no bytes.
uint8_t packet_type(lvx::Bytes packet);
// True when the bytes open with a header that says it is 20 bytes long.
bool has_header_length(lvx::Bytes packet);

// The length a packet of one of the display's types gives itself, from its start to the end of
// its datagram or frame: command D + 30, message L + 30, connect 136, node N + 5, key 32, bitmap
// S + 25. 0 ("the rest") for any other type, and when the length field is cut.
size_t declared_length(uint8_t type, lvx::Bytes packet);

// A command packet: the serial, the value (file-transfer control), the command type and the text
// (its data up to the zero byte).
struct CommandPacket {
  uint32_t serial = 0;
  uint32_t value = 0;
  uint8_t type = 0;
  std::string text;
};
std::optional<CommandPacket> decode_command(lvx::Bytes packet);

// A message packet: the serial, the signed time offset in ms and the text.
struct MessagePacket {
  uint32_t serial = 0;
  int32_t offset_ms = 0;
  std::string text;
};
std::optional<MessagePacket> decode_message(lvx::Bytes packet);

// A connect packet: its code, the two node names and whether its identity field opens with the
// link's identity text.
struct ConnectPacket {
  uint8_t code = 0;
  std::string tracker_name;
  std::string remote_name;
  bool link_identity = false;
};
std::optional<ConnectPacket> decode_connect(lvx::Bytes packet);

// The payload of a node message (its trailing byte included in what must be there); nothing when
// it is longer than 420 bytes or cut short.
std::optional<std::vector<uint8_t>> decode_node(lvx::Bytes packet);

// A key or button packet. The raw code is 0 when the packet ends before it (30 bytes).
struct KeyPacket {
  uint16_t code = 0;
  uint16_t modifiers = 0;
  int8_t state = 0;
  uint8_t button = 0;
  uint16_t raw = 0;
};
std::optional<KeyPacket> decode_key(lvx::Bytes packet);

// A bitmap packet: its sequence number and its data (a view into the packet).
struct BitmapPacket {
  uint16_t sequence = 0;
  lvx::Bytes data;
};
std::optional<BitmapPacket> decode_bitmap(lvx::Bytes packet);

}  // namespace lvxsim
