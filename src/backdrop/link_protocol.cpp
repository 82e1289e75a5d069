#include "backdrop/link_protocol.h"

#include <algorithm>

#include "backdrop/backdrop_state.h"
#include "control/commands.h"
#include "control/requests.h"
#include "link/clock.h"
#include "link/connection.h"
#include "link/log.h"
#include "link/transport.h"

namespace lvx::backdrop {

PacketProtocol::PacketProtocol(PacketState &state, size_t length, size_t payload, uint32_t now_ms)
    : state_(state), length_(length), payload_(payload), last_activity_ms_(now_ms) {
  state_.next_sequence = 1;
}

AckOutcome PacketProtocol::take_ack(int16_t value, uint32_t now_ms) {
  if (value == 0) return AckOutcome::kGoOn;
  last_activity_ms_ = now_ms;
  if (value > 0) {
    state_.credit += value;
    return AckOutcome::kGoOn;
  }
  switch (value) {
    case kAckAborted:
      return AckOutcome::kAborted;
    case kAckOverflow:
      return AckOutcome::kOverflow;
    case kAckComplete:
      return all_bytes_sent() ? AckOutcome::kComplete : AckOutcome::kIncomplete;
    default:
      break;
  }
  const auto from = static_cast<uint32_t>(-value);
  if (from > state_.next_sequence) return AckOutcome::kJunk;
  state_.next_sequence = from;
  end_sent_ = false;
  return AckOutcome::kGoOn;
}

bool PacketProtocol::silent_too_long(uint32_t now_ms) const {
  return now_ms - last_activity_ms_ > kAckSilenceMs;
}

bool PacketProtocol::all_bytes_sent() const {
  return static_cast<uint64_t>(state_.next_sequence - 1) * payload_ >= length_;
}

std::optional<PacketProtocol::Packet> PacketProtocol::next_packet() const {
  if (state_.credit <= 0) return std::nullopt;
  Packet p;
  p.sequence = static_cast<uint16_t>(state_.next_sequence);
  if (!all_bytes_sent()) {
    p.offset = static_cast<size_t>(state_.next_sequence - 1) * payload_;
    p.size = std::min(payload_, length_ - p.offset);
    return p;
  }
  if (end_sent_) return std::nullopt;
  p.offset = length_;
  return p;
}

void PacketProtocol::packet_sent(const Packet &packet) {
  if (packet.size == 0) end_sent_ = true;
  ++state_.next_sequence;
  --state_.credit;
}

int send_packets(const std::vector<uint8_t> &bytes, size_t payload) {
  BackdropState &s = backdrop_state();
  PacketProtocol protocol(s.packets, bytes.size(), payload, local_ms());
  auto stop = [] {
    send_command("stop_bitmap_transfer");
    return -1;
  };
  for (;;) {
    if (connection_state() == 0) return -1;
    const uint32_t now = local_ms();
    if (protocol.silent_too_long(now)) return stop();
    const int16_t ack = take_bitmap_ack_count();
    switch (protocol.take_ack(ack, now)) {
      case AckOutcome::kGoOn:
        break;
      case AckOutcome::kJunk:
        log_printf("Junk bitmap error code=%d  Seq=%d\n", ack,
                   static_cast<int>(s.packets.next_sequence));
        break;
      case AckOutcome::kComplete:
        return 0;
      case AckOutcome::kIncomplete:
      case AckOutcome::kAborted:
        return -1;
      case AckOutcome::kOverflow:
        console_printf("Tranfer queue overflow--terminating");
        return stop();
    }
    const std::optional<PacketProtocol::Packet> packet = protocol.next_packet();
    if (!packet) {
      wait_for_packet_unless(bitmap_ack_pending);
      continue;
    }
    const int16_t r = send_bitmap_packet(bytes.data() + packet->offset,
                                         static_cast<uint16_t>(packet->size), packet->sequence);
    if (r != 0) {
      console_printf("Error (%d) sending packet", r);
      return stop();
    }
    protocol.packet_sent(*packet);
  }
}

}  // namespace lvx::backdrop
