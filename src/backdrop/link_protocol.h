// The packet protocol of a backdrop sent over the link. The tracker grants credit (a positive
// acknowledgement count: that many more packets may go), asks for a resend from a sequence number
// (the count -s), and ends the transfer (-32002 complete, -32000 abort, -32001 its queue
// overflowed). The library sends the packed bytes in numbered packets of one payload size each,
// one per credit, and an empty packet with the next number as the end marker; when nothing is
// heard from the tracker for 500 ms it stops the transfer.
//
// PacketProtocol holds the decisions, with the time passed in, so that they are tested without a
// socket; send_packets runs them over the link.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace lvx::backdrop {

// Acknowledgement values besides counts and resend requests.
constexpr int16_t kAckAborted = -32000;
constexpr int16_t kAckOverflow = -32001;
constexpr int16_t kAckComplete = -32002;
// How long the tracker may stay silent during a transfer.
constexpr uint32_t kAckSilenceMs = 500;

// The transfer's packet numbers and credit (process-wide while a transfer runs: see
// BackdropState). A transfer starts at sequence 1; the credit is cleared before the transfer's
// start command, so that only what the tracker grants for this transfer counts.
struct PacketState {
  uint32_t next_sequence = 1;
  int32_t credit = 0;
};

// What one reading of the acknowledgement count means.
enum class AckOutcome {
  kGoOn,        // nothing, credit, or a resend request taken
  kJunk,        // a resend request beyond the next packet: ignored (log it)
  kComplete,    // the tracker has the whole image
  kIncomplete,  // the tracker says complete before every byte went out
  kAborted,     // the tracker aborted
  kOverflow,    // the tracker's queue overflowed
};

class PacketProtocol {
 public:
  // Sends `length` bytes in packets of `payload` bytes; the state's sequence restarts at 1.
  PacketProtocol(PacketState &state, size_t length, size_t payload, uint32_t now_ms);

  // Takes one reading of the acknowledgement count at `now_ms`.
  AckOutcome take_ack(int16_t value, uint32_t now_ms);
  // True once more than 500 ms passed without acknowledgement activity.
  bool silent_too_long(uint32_t now_ms) const;

  struct Packet {
    uint16_t sequence = 0;
    size_t offset = 0;
    size_t size = 0;  // 0: the end marker
  };
  // The packet to send now: nothing without credit, or when every byte and the end marker are
  // out.
  std::optional<Packet> next_packet() const;
  // Counts a packet as sent: the next number, one credit used.
  void packet_sent(const Packet &packet);
  // True when the next packet would start past the last byte.
  bool all_bytes_sent() const;

 private:
  PacketState &state_;
  size_t length_;
  size_t payload_;
  bool end_sent_ = false;
  uint32_t last_activity_ms_;
};

// Sends the packed bytes to the tracker with the protocol above, the link transfer's state
// taken from BackdropState. 0 when the tracker confirmed the whole image; -1 when the link went
// down, the tracker aborted, fell silent for 500 ms, overflowed or confirmed too early, or a
// packet could not be sent (the last three, and silence, also tell the tracker
// "stop_bitmap_transfer"). The caller holds the transfer lock.
int send_packets(const std::vector<uint8_t> &bytes, size_t payload);

}  // namespace lvx::backdrop
