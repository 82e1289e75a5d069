// Feeds arbitrary bytes to the TCP frame parser as a stream from the tracker. The first input byte
// picks the size of the pieces the stream arrives in (1..256 bytes), as receives would cut it.
// The stream is parsed twice: whole, and piece by piece in a bounded buffer as the receive thread
// holds it (frames taken as soon as they are complete, the rest kept for the next receive). Both
// must give the same frames and the same end (a corrupt stream, or a frame still incomplete), and
// every answer must keep the parser's promises: a frame lies within the bytes held and is at most
// 1500 bytes long; "need more" only for the start of a well-formed frame.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "link/tcp_framing.h"

namespace {

using lvx::Bytes;
using lvx::TcpFrame;
using lvx::TcpFrameKind;

// The frames of a parse. The whole-stream parse keeps its frames as views into the input; the
// piece-by-piece parse compares each frame it takes with the whole parse's frame of the same
// number as it goes (its buffer is reused), so no frame is ever copied.
struct Parsed {
  std::vector<Bytes> frames;
  const Parsed *expect = nullptr;
  size_t count = 0;
  bool corrupt = false;
  size_t left = 0;  // bytes held at the end without a complete frame
};

// Checks one answer of the parser against the bytes it was given.
void check(const TcpFrame &f, Bytes held) {
  switch (f.kind) {
    case TcpFrameKind::kFrame:
      if (f.length > lvx::kTcpMaxFramePayload || f.size != lvx::kTcpFrameHeaderSize + f.length ||
          f.size > held.size() || f.payload.size() != f.length ||
          f.payload.data() != held.data() + lvx::kTcpFrameHeaderSize || held[0] != 'L' ||
          held[1] != 'V') {
        __builtin_trap();
      }
      break;
    case TcpFrameKind::kNeedMore:
      if ((!held.empty() && held[0] != 'L') || (held.size() > 1 && held[1] != 'V')) {
        __builtin_trap();
      }
      if (held.size() >= lvx::kTcpFrameHeaderSize &&
          (f.length > lvx::kTcpMaxFramePayload ||
           held.size() >= lvx::kTcpFrameHeaderSize + f.length)) {
        __builtin_trap();
      }
      break;
    case TcpFrameKind::kCorrupt:
      if (f.fault == lvx::TcpFrameFault::kNone) __builtin_trap();
      break;
  }
}

// Takes every complete frame from the start of `held`; returns the bytes they used.
size_t take_frames(Bytes held, Parsed &out) {
  size_t off = 0;
  for (;;) {
    Bytes rest = held.subspan(off);
    TcpFrame f = lvx::next_tcp_frame(rest);
    check(f, rest);
    if (f.kind == TcpFrameKind::kCorrupt) out.corrupt = true;
    if (f.kind != TcpFrameKind::kFrame) return off;
    if (out.expect == nullptr) {
      out.frames.push_back(f.payload);
    } else if (out.count >= out.expect->frames.size() ||
               !std::equal(f.payload.begin(), f.payload.end(),
                           out.expect->frames[out.count].begin(),
                           out.expect->frames[out.count].end())) {
      __builtin_trap();
    }
    ++out.count;
    off += f.size;
  }
}

Parsed parse_whole(Bytes stream) {
  Parsed p;
  size_t used = take_frames(stream, p);
  p.left = p.corrupt ? 0 : stream.size() - used;
  return p;
}

Parsed parse_in_pieces(Bytes stream, size_t piece, const Parsed &whole) {
  Parsed p;
  p.expect = &whole;
  // Room for the largest frame held back plus one piece, as the receive buffer has.
  std::vector<uint8_t> buf(lvx::kTcpMaxFrameSize + piece);
  size_t held = 0;
  for (size_t at = 0; at < stream.size() && !p.corrupt; at += piece) {
    size_t n = std::min(piece, stream.size() - at);
    if (held + n > buf.size()) __builtin_trap();  // a held tail never outgrows one frame
    std::memcpy(buf.data() + held, stream.data() + at, n);
    held += n;
    size_t used = take_frames(Bytes(buf.data(), held), p);
    held -= used;
    // Only when frames were taken: moving the held tail onto itself after every one-byte piece
    // would make each run quadratic in the input's length.
    if (used != 0) std::memmove(buf.data(), buf.data() + used, held);
  }
  p.left = p.corrupt ? 0 : held;
  return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const size_t piece = size_t{data[0]} + 1;
  Bytes stream(data + 1, size - 1);
  Parsed whole = parse_whole(stream);
  Parsed pieces = parse_in_pieces(stream, piece, whole);
  if (whole.corrupt != pieces.corrupt || whole.left != pieces.left || whole.count != pieces.count) {
    __builtin_trap();
  }
  return 0;
}
