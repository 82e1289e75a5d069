// The framing of the TCP-only link, as pure functions over bytes (no sockets, no state), so that
// the receive thread, the unit tests and the fuzz target share one parser.
//
// From the tracker, each frame is "LV", the length of what follows as a 16-bit big-endian number
// (at most 1500), then that many bytes of link packets. To the tracker, each packet goes behind
// its 2-byte big-endian length alone.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/byte_io.h"

namespace lvx {

constexpr size_t kTcpFrameHeaderSize = 4;  // "LV" and the 16-bit length
constexpr size_t kTcpMaxFramePayload = 1500;
constexpr size_t kTcpMaxFrameSize = kTcpFrameHeaderSize + kTcpMaxFramePayload;
constexpr size_t kTcpOutgoingHeaderSize = 2;  // the 16-bit length

enum class TcpFrameKind {
  kFrame,     // a whole frame is held: its payload and size are set
  kNeedMore,  // the bytes held are the start of a frame (or nothing): wait for more
  kCorrupt,   // the bytes held cannot start a frame: the stream is unusable from here on
};

enum class TcpFrameFault {
  kNone,
  kBadPrefix,  // the frame does not open with "LV"
  kTooLong,    // the length is over 1500
};

struct TcpFrame {
  TcpFrameKind kind = TcpFrameKind::kNeedMore;
  Bytes payload;    // kFrame: the packets the frame carries (possibly none)
  size_t size = 0;  // kFrame: the bytes the whole frame takes, its header included
  TcpFrameFault fault = TcpFrameFault::kNone;
  size_t length = 0;  // kFrame and kTooLong: the length the header gives
};

// Looks at the bytes held from the start of a frame. A wrong first or second byte is reported as
// soon as it is held, so that garbage never leaves the reader waiting for the rest of a header.
TcpFrame next_tcp_frame(Bytes held);

// A short text naming a fault ("invalid prefix", "invalid dlen").
const char *tcp_frame_fault_text(TcpFrameFault fault);

// Writes the 2-byte length and the packet into `out`; returns the bytes written, or 0 when the
// packet is longer than a 16-bit length can say or `out` is too small.
size_t encode_tcp_outgoing_frame(Bytes packet, MutableBytes out);

}  // namespace lvx
