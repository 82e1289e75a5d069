#include "link/tcp_framing.h"

#include <cstring>

#include "common/wire_reader.h"

namespace lvx {

namespace {

constexpr uint8_t kPrefix0 = 'L';
constexpr uint8_t kPrefix1 = 'V';

}  // namespace

TcpFrame next_tcp_frame(Bytes held) {
  TcpFrame f;
  // Each byte of the header is judged as soon as it is held; a header not yet whole means more.
  WireReader r(held);
  uint8_t first = 0;
  uint8_t second = 0;
  if ((r.u8(first) && first != kPrefix0) || (r.u8(second) && second != kPrefix1)) {
    f.kind = TcpFrameKind::kCorrupt;
    f.fault = TcpFrameFault::kBadPrefix;
    return f;
  }
  uint16_t length = 0;
  if (!r.u16(length)) return f;
  f.length = length;
  if (f.length > kTcpMaxFramePayload) {
    f.kind = TcpFrameKind::kCorrupt;
    f.fault = TcpFrameFault::kTooLong;
    return f;
  }
  const Bytes payload = r.take_bytes(f.length);
  if (!r.ok()) return f;
  f.kind = TcpFrameKind::kFrame;
  f.size = kTcpFrameHeaderSize + f.length;
  f.payload = payload;
  return f;
}

const char *tcp_frame_fault_text(TcpFrameFault fault) {
  switch (fault) {
    case TcpFrameFault::kBadPrefix:
      return "invalid prefix";
    case TcpFrameFault::kTooLong:
      return "invalid dlen";
    case TcpFrameFault::kNone:
      break;
  }
  return "none";
}

size_t encode_tcp_outgoing_frame(Bytes packet, MutableBytes out) {
  if (packet.size() > 0xFFFF || out.size() < kTcpOutgoingHeaderSize + packet.size()) return 0;
  put_u16(out, 0, static_cast<uint16_t>(packet.size()));
  if (!packet.empty()) {
    std::memcpy(out.data() + kTcpOutgoingHeaderSize, packet.data(), packet.size());
  }
  return kTcpOutgoingHeaderSize + packet.size();
}

}  // namespace lvx
