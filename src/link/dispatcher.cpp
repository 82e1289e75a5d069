#include "link/dispatcher.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "common/wire_reader.h"
#include "link/connection.h"
#include "link/link_state.h"
#include "link/log.h"
#include "link/packets.h"
#include "link/tracker_clock.h"
#include "link/transport.h"

namespace lvx {

namespace {

constexpr int kUnknownTypeUsed = 21;
constexpr int kNodeOverhead = 21;
// Node packet fields: the payload length (in place of the header's mode and state bytes), the
// payload, and the one trailing byte after it.
constexpr size_t kNodeLength = 2;
constexpr size_t kNodePayload = 4;
constexpr int kNodeTrailer = 1;

// Takes the header echo of a status or accepted tracker packet: the extra header fields, the
// mode word, the state flag with its mode-ready latch, and the tracker time.
void take_header_echo(const PacketHeader &h) {
  LinkRecord &r = link_record();
  r.state.header_word16 = h.word16;
  r.state.header_word14 = h.word14;
  r.state.header_byte18 = h.byte18;
  r.mode_code = h.byte18;
  r.state.header_byte19 = h.byte19;
  if (h.mode != r.mode_word) {
    if (ModeObserver observer = dispatch_table().mode_observer.load())
      observer(r.mode_word, h.mode);
  }
  uint8_t old_state = r.state_flag;
  if (old_state != 0 && h.state == 0) r.mode_ready = 1;
  if (old_state == 0 && h.state != 0) r.mode_ready = 0;
  r.state_flag = h.state;
  r.mode_word = h.mode;
  tracker_clock_update(h.tracker_usec());
}

// Who may steer the link. While the link has a tracker (connected to it, listening to it by
// broadcast, or connected but silent for now) only the tracker's own packets change the link's
// state, the tracker address, command results, calibration reports, the mode word, the state
// flag and the tracker clock; through the relay, whatever the relay passes on. Any other node
// could otherwise disconnect the link, make itself the tracker, or forge results and times.
// Packets routed "from anyone" are taken from any node only while the link has no tracker: the
// answers to requests sent before a connection (a time request to a named node) come from
// whichever node was asked, and a connection, once made, starts afresh from its tracker's
// packets.
bool link_has_tracker() {
  LinkRecord &r = link_record();
  return r.is_connected != 0 || r.silenced;
}

bool from_tracker(const LVXADDR &sender) {
  LinkRecord &r = link_record();
  int16_t c = r.is_connected;
  return c < 0 || ((c > 0 || r.silenced) && same_node(sender, r.tracker_address));
}

// Connect replies are taken only while the application waits for one, and only from the node it
// asked (from any node during a broadcast open). A stray CONNECT_ACK would otherwise make its
// sender the tracker, and a stray CONNECT_BUSY would drop a working connection. In TCP-only mode
// every packet comes down the one connection to the tracker.
bool from_connect_target(const LVXADDR &sender) {
  LinkRecord &r = link_record();
  if (!r.connecting) return false;
  return r.connect_any || transport_tcp_only() || same_node(sender, r.connect_target);
}

// Returns the bytes the packet counts for, or 0 (the rest of the buffer) for a packet cut short:
// a reply without its version text would otherwise pass for a first-generation tracker's.
int handle_connect_packet(const LVXADDR &sender, Bytes p, const PacketHeader &h) {
  LinkRecord &r = link_record();
  const std::optional<ConnectPacket> c = decode_connect_packet(p);
  if (!c) {
    log_printf("Connect packet of %d bytes is shorter than %d, dropped\n",
               static_cast<int>(p.size()), static_cast<int>(kConnectPacketSize));
    return 0;
  }
  if (!c->has_link_identity()) return kConnectPacketUsed;
  const uint8_t code = c->code;
  // The time of a connect packet feeds the clock estimate only when it comes from the tracker,
  // or is the reply of the node being connected to; other nodes' polls and replies carry their
  // own clocks.
  const bool from_target =
      (code == CONNECT_ACK || code == CONNECT_BUSY) && from_connect_target(sender);
  if (from_target || from_tracker(sender)) tracker_clock_update(h.tracker_usec());
  switch (code) {
    case CONNECT_ACK: {
      if (!from_target) break;
      r.tracker_address = sender;
      r.state.tracker_address = sender;
      r.protocol_major = c->major;
      r.protocol_minor = c->minor;
      copy_node_name(r.state.tracker_name, std::string(c->tracker_name).c_str());
      int generation = generation_from_model_char(c->model);
      std::string text = generation == 1 ? std::string("LUMAVEX K") : std::string(c->version_text);
      apply_tracker_version(detect_version(generation, text));
      // Set last: do_connect reads the reply's fields once it sees the flag.
      r.accepted = true;
      return kConnectPacketUsed;
    }
    case POLL_REMOTES:
      send_connect_pkt(REMOTE_POLL_REPLY, &sender);
      return kConnectPacketUsed;
    case DISCONNECT_ACK:
      if (r.is_connected < 0 || (r.is_connected > 0 && same_node(sender, r.tracker_address))) {
        r.is_connected = 0;
        r.mode_word = 0xFFFF;
        log_printf(
            "%s:%d is_connected=%d xlink_rx_process(). Got p->code == "
            "DISCONNECT_ACK\n",
            __FILE_NAME__, __LINE__, r.is_connected.load());
        return kConnectPacketUsed;
      }
      break;
    case CONNECT_BUSY:
      if (!from_target) break;
      r.is_connected = 0;
      r.busy = true;
      log_printf("%s:%d is_connected=%d xlink_rx_process(). Got p->code == CONNECT_BUSY\n",
                 __FILE_NAME__, __LINE__, r.is_connected.load());
      return kConnectPacketUsed;
    case REMOTE_POLL_REPLY:
    case TRACKER_POLL_REPLY: {
      bool remote = code == REMOTE_POLL_REPLY;
      LinkStateFields &s = r.state;
      if (s.poll_mode == (remote ? 1 : 0) && s.poll_count < kMaxPollResponses) {
        LVXNODE &slot = s.poll_responses[s.poll_count];
        slot.addr = sender;
        const std::string name(remote ? c->remote_name : c->tracker_name);
        copy_node_name(slot.name, name.c_str());
        ++s.poll_count;
        return kConnectPacketUsed;
      }
      break;
    }
    default:
      break;
  }
  log_printf("Uknown code %d \n", code);
  return kConnectPacketUsed;
}

// A node message whose payload the bytes do not hold is dropped; it still counts N + 21 bytes,
// which ends the walk with the buffer used.
int handle_node_packet(const LVXADDR &sender, Bytes p) {
  WireReader r(p);
  const int n = r.u16_at(kNodeLength);
  if (n > 0 && n <= NodeRing::kMaxPayload) {
    const Bytes payload = r.bytes_at(kNodePayload, static_cast<size_t>(n));
    if (r.ok()) {
      link_record().nodes.store(sender, payload.data(), n);
    } else {
      log_printf("Node message of %d bytes in %d, dropped\n", n, static_cast<int>(p.size()));
    }
  }
  return n + kNodeOverhead;
}

// A node message with fewer than 15 payload bytes is shorter than a packet header (its datagram
// holds N + 5 bytes), so the walk, which needs a whole header, never reaches it: the bytes were
// carried over and spoilt the sender's next datagram. A node packet whose own length covers
// exactly what remains of the buffer is whole, however short, and is taken as such.
bool is_whole_short_node_packet(Bytes rest) {
  if (rest.size() >= kHeaderSize) return false;
  WireReader r(rest);
  const uint8_t type = r.u8_at(hdr::kType);
  const uint8_t length = r.u8_at(hdr::kLength);
  const size_t n = r.u16_at(kNodeLength);
  return r.ok() && type == NODE_PKT && length == kHeaderSize &&
         n + kNodePayload + kNodeTrailer == rest.size();
}

}  // namespace

bool begins_with_packet(Bytes datagram) {
  WireReader r(datagram);
  const uint8_t length = r.u8_at(hdr::kLength);
  return r.ok() && length == kHeaderSize;
}

int walk_packets(const LVXADDR &sender, Bytes buffer) {
  WireReader in(buffer);
  const int len = static_cast<int>(buffer.size());
  int off = 0;
  int rest = len;
  while (rest >= static_cast<int>(kHeaderSize)) {
    const auto at = static_cast<size_t>(off);
    const uint8_t hlen = in.u8_at(at + hdr::kLength);
    if (hlen != kHeaderSize) {
      log_printf(
          "API-2516 ERROR Invalid data packet type = %d len = %d sizeof(PHDR) =%d hdrsize = %d "
          "used=%d\n",
          in.u8_at(at + hdr::kType), len, static_cast<int>(kHeaderSize), hlen, off);
      return len;
    }
    int r = xlink_rx_process(sender, buffer.subspan(static_cast<size_t>(off)));
    // A handler that stops the walk leaves the rest to be carried, within the same bound as any
    // other tail: a packet that claims more bytes than a buffer holds must not be kept waiting
    // for them, filling the receive buffer with carry until no room is left to read into.
    if (r == -1) break;
    if (r == 0) return len;
    off += r;
    rest -= r;
  }
  if (rest > 0 && is_whole_short_node_packet(buffer.subspan(static_cast<size_t>(off)))) {
    handle_node_packet(sender, buffer.subspan(static_cast<size_t>(off)));
    return len;
  }
  if (rest < 0) {
    log_printf("API-2516 Rem negative %d \n", rest);
    return len;
  }
  if (rest > kMaxCarryBytes) {
    log_printf("API-2516  Rem Too big %d \n", rest);
    return len;
  }
  if (rest > 0) log_printf("API-2516 Rem %d \n", rest);
  return off;
}

bool register_packet_route(uint8_t type, PacketRoute route) {
  DispatchTable &t = dispatch_table();
  if (route.handler == nullptr || type == CONNECT_PKT || type == NODE_PKT) return false;
  if (t.handlers[type].load() != nullptr) return false;
  t.anyone[type] = !route.tracker_only;
  t.handlers[type] = route.handler;
  return true;
}

bool register_mode_observer(ModeObserver observer) {
  ModeObserver none = nullptr;
  return observer != nullptr &&
         dispatch_table().mode_observer.compare_exchange_strong(none, observer);
}

bool register_relay_walker(BufferWalker walker) {
  BufferWalker none = nullptr;
  return walker != nullptr && dispatch_table().relay_walker.compare_exchange_strong(none, walker);
}

bool register_relay_io(RelayForwarder forward, RelayReader read) {
  DispatchTable &t = dispatch_table();
  if (forward == nullptr || read == nullptr) return false;
  RelayForwarder no_forwarder = nullptr;
  if (!t.relay_forwarder.compare_exchange_strong(no_forwarder, forward)) return false;
  RelayReader no_reader = nullptr;
  if (t.relay_reader.compare_exchange_strong(no_reader, read)) return true;
  t.relay_forwarder = nullptr;  // the pair goes in whole or not at all
  return false;
}

void forward_to_relay(Bytes buffer) {
  if (RelayForwarder forward = dispatch_table().relay_forwarder.load()) forward(buffer);
}

int read_from_relay(uint8_t *buf, int room, int wait_ms) {
  RelayReader read = dispatch_table().relay_reader.load();
  return read != nullptr ? read(buf, room, wait_ms) : -1;
}

int rx_buffer(const LVXADDR &sender, Bytes buffer) {
  if (buffer.empty()) return 0;
  if (link_record().is_connected < 0) {
    BufferWalker walker = dispatch_table().relay_walker.load();
    return walker != nullptr ? walker(sender, buffer) : static_cast<int>(buffer.size());
  }
  return walk_packets(sender, buffer);
}

int xlink_rx_process(const LVXADDR &sender, Bytes p) {
  const int remaining = static_cast<int>(p.size());
  const std::optional<PacketHeader> header = decode_header(p);
  if (!header) {
    log_printf("Packet of %d bytes is shorter than its header, dropped\n", remaining);
    return 0;
  }
  const PacketHeader &h = *header;
  LinkRecord &r = link_record();

  if (r.last_sequence != -1 && h.sequence != static_cast<uint32_t>(r.last_sequence + 1)) {
    log_printf("LOST OR OUT OF ORDER PACKET %d %d\n", static_cast<int>(r.last_sequence),
               static_cast<int>(h.sequence));
  }
  r.last_sequence = h.sequence;

  switch (h.type) {
    case CONNECT_PKT:
      return handle_connect_packet(sender, p, h);
    case NODE_PKT:
      return handle_node_packet(sender, p);
    default:
      break;
  }
  DispatchTable &t = dispatch_table();
  PacketHandler handler = t.handlers[h.type].load();
  const bool from_anyone = handler != nullptr && t.anyone[h.type].load() && !link_has_tracker();
  if (!from_anyone && !from_tracker(sender)) {
    log_printf("API-2516 Type = %d\n", h.type);
    return 0;
  }
  if (handler == nullptr) {
    log_printf("API-2516 UNKNOWN  1 type = %d len= %d\n", h.type, remaining);
    return kUnknownTypeUsed;
  }
  take_header_echo(h);
  return handler(sender, p);
}

}  // namespace lvx
