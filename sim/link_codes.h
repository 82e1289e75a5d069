// Wire constants of the link protocol as the simulated tracker sees them: packet types, connect
// codes and the offsets of the connect packet's fields.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lvxsim {

// Packet types (header byte 0).
inline constexpr uint8_t kCommandPkt = 1;
inline constexpr uint8_t kKeyPkt = 2;
inline constexpr uint8_t kStatusPkt = 3;
inline constexpr uint8_t kDataPkt = 4;
inline constexpr uint8_t kMessagePkt = 5;
inline constexpr uint8_t kImagePkt = 6;
inline constexpr uint8_t kFilePkt = 7;
inline constexpr uint8_t kConnectPkt = 0x63;
inline constexpr uint8_t kNodePkt = 0xFF;

// Every packet header is 20 bytes and says so in byte 1. The display's packets use only the
// type, the header length and the sequence field, which carries a command's serial.
inline constexpr size_t kHeaderSize = 20;
inline constexpr size_t kTypeOffset = 0;
inline constexpr size_t kHeaderLengthOffset = 1;
inline constexpr size_t kSerialOffset = 4;

// Connect packet codes (byte 20 of a connect packet).
inline constexpr uint8_t kConnectBusyTest = 1;
inline constexpr uint8_t kConnectRequest = 2;
inline constexpr uint8_t kConnectBroadcast = 3;
inline constexpr uint8_t kDisconnectRequest = 0x10;
inline constexpr uint8_t kPollTrackers = 0x11;
inline constexpr uint8_t kPollRemotes = 0x12;
inline constexpr uint8_t kConnectAck = 0x81;
inline constexpr uint8_t kConnectBusy = 0x82;
inline constexpr uint8_t kDisconnectAck = 0x90;
inline constexpr uint8_t kTrackerPollReply = 0x91;
inline constexpr uint8_t kRemotePollReply = 0x92;

// Connect packet layout.
inline constexpr size_t kConnectSize = 136;
inline constexpr size_t kConnectCodeOffset = 20;
inline constexpr size_t kConnectMajorOffset = 21;
inline constexpr size_t kConnectMinorOffset = 22;
inline constexpr size_t kTrackerNameOffset = 26;
inline constexpr size_t kRemoteNameOffset = 66;
inline constexpr size_t kNameSize = 40;
inline constexpr size_t kIdentityOffset = 106;
inline constexpr size_t kIdentitySize = 30;
// Every connect packet's identity field opens with this; the tracker's adds a blank and its
// version text ("QX VELOTRIS " + "LUMAVEX RX 5.7").
inline constexpr char kIdentity[] = "QX VELOTRIS LUMAVEX";
inline constexpr char kIdentityPrefix[] = "QX VELOTRIS ";

// Node messages: 0xFF, 20, 16-bit payload length, payload, one trailing byte.
inline constexpr size_t kNodeMaxPayload = 420;
inline constexpr size_t kNodeOverhead = 5;
inline constexpr size_t kNodeLengthOffset = 2;
inline constexpr size_t kNodePayloadOffset = 4;

// Key packets as the display sends them: key code, modifiers, state, button number (0 for a key)
// and the raw key code after the header.
inline constexpr size_t kKeyPacketSize = 32;
inline constexpr size_t kKeyCodeOffset = 24;
inline constexpr size_t kKeyModifiersOffset = 26;
inline constexpr size_t kKeyStateOffset = 28;
inline constexpr size_t kKeyButtonOffset = 29;
inline constexpr size_t kKeyRawOffset = 30;
// A key or flush packet from the tracker: the display counts it as 30 bytes.
inline constexpr size_t kTrackerKeyPacketSize = 30;

// The bitmap (image) packet the display sends: its sequence number, data size and data, then one
// byte.
inline constexpr size_t kImageFixedSize = 25;
inline constexpr size_t kBitmapSequenceOffset = 20;
inline constexpr size_t kBitmapSizeOffset = 22;
inline constexpr size_t kBitmapDataOffset = 24;

// Status type of the "lost data" notice, which the display ignores: the keep-alive uses it.
inline constexpr uint16_t kStatusMsgLost = 128;

// The TCP stream: greeting from the display, largest frame, tracker-to-display frame prefix.
inline constexpr char kTcpGreeting[] = "HELO ";  // sent with its NUL: 6 bytes
inline constexpr size_t kTcpGreetingSize = 6;
inline constexpr size_t kTcpMaxFrame = 1500;

// Command packet layout: 30 bytes plus the data length at offset 26; the command type at 25; the
// value that file-transfer control carries at 20.
inline constexpr size_t kCommandFixedSize = 30;
inline constexpr size_t kCommandValueOffset = 20;
inline constexpr size_t kCommandTypeOffset = 25;
inline constexpr size_t kCommandLengthOffset = 26;
inline constexpr size_t kCommandTextOffset = 28;
inline constexpr uint8_t kCommandTypeCommand = 22;
// Status type of a command result.
inline constexpr uint16_t kStatusCommandResult = 22;

// Message packet layout: a signed time offset in ms at 20, the text length plus one at 26, the
// text and its zero byte at 28, then one zero byte: 30 bytes plus the length field in all.
inline constexpr size_t kMessageOffsetField = 20;
inline constexpr size_t kMessageLengthOffset = 26;
inline constexpr size_t kMessageTextOffset = 28;
inline constexpr size_t kMessageFixedSize = 30;

}  // namespace lvxsim
