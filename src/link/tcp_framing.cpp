#include "link/tcp_framing.h"

#include <cstring>

namespace lvx {

namespace {

constexpr uint8_t kPrefix0 = 'L';
constexpr uint8_t kPrefix1 = 'V';
constexpr size_t kLengthOffset = 2;

}  // namespace

TcpFrame next_tcp_frame(Bytes held) {
  TcpFrame f;
  if ((!held.empty() && held[0] != kPrefix0) || (held.size() > 1 && held[1] != kPrefix1)) {
    f.kind = TcpFrameKind::kCorrupt;
    f.fault = TcpFrameFault::kBadPrefix;
    return f;
  }
  if (held.size() < kTcpFrameHeaderSize) return f;
  f.length = get_u16(held, kLengthOffset);
  if (f.length > kTcpMaxFramePayload) {
    f.kind = TcpFrameKind::kCorrupt;
    f.fault = TcpFrameFault::kTooLong;
    return f;
  }
  if (held.size() - kTcpFrameHeaderSize < f.length) return f;
  f.kind = TcpFrameKind::kFrame;
  f.size = kTcpFrameHeaderSize + f.length;
  f.payload = held.subspan(kTcpFrameHeaderSize, f.length);
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
