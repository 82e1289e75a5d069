// The receive side of the link: walks a received buffer packet by packet and dispatches each by
// type to the handler a subsystem registered for it. Runs on the receive thread with the link
// lock held.
//
// The link itself handles connect and node packets and the header echo of the tracker's packets
// (mode word, state flag, tracker time); every other packet type reaches a subsystem only
// through the route registered here, so the link knows nothing above it.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/byte_io.h"
#include "lumavex_core.h"

namespace lvx {

// The longest tail of a buffer that a walk leaves unused for the transport to carry to the next
// buffer; a longer one is dropped with the buffer.
constexpr int kMaxCarryBytes = 1000;

// Handles one packet. `packet` starts at the packet's header and runs to the end of the received
// buffer (it may hold further packets). Returns the bytes used, 0 to drop the rest of the buffer,
// or -1 to stop the walk and carry the rest over.
using PacketHandler = int (*)(const LVXADDR &sender, Bytes packet);

struct PacketRoute {
  PacketHandler handler = nullptr;
  // When set, packets of this type are taken only from the connected tracker. When clear, they
  // are also taken from any node, but only while the link has no tracker (not connected, and
  // not connected-but-silent): once connected, only the tracker steers the link.
  bool tracker_only = true;
};

// Registers the route for a packet type. The owner registers every route at start-up, before a
// receive thread can run, and a route stays for the life of the process. A route without a
// handler, one for a type that has a route already, and one for the link's own connect and node
// packets are refused: false, with the table as it was.
[[nodiscard]] bool register_packet_route(uint8_t type, PacketRoute route);

// Called under the link lock whenever a tracker packet's header echo changes the mode word.
using ModeObserver = void (*)(unsigned old_mode, unsigned new_mode);
// Registered once; null, or a second observer, is refused (false).
[[nodiscard]] bool register_mode_observer(ModeObserver observer);

// Walks buffers while the link is connected through the local relay (is_connected < 0), whose
// buffers hold text-framed records around packets. Returns the bytes used.
using BufferWalker = int (*)(const LVXADDR &sender, Bytes buffer);
// Registered once; null, or a second walker, is refused (false).
[[nodiscard]] bool register_relay_walker(BufferWalker walker);

// The receive thread's side of the local relay, registered by the owner. While this process is a
// relay master, the forwarder gets every buffer of the tracker's packets (before they are
// dispatched here) and must not wait. While connected through the relay, the receive thread
// reads from the reader instead of the link socket: it returns the bytes read, 0 when nothing
// came within wait_ms, or a negative value without a connection.
using RelayForwarder = void (*)(Bytes buffer);
using RelayReader = int (*)(uint8_t *buf, int room, int wait_ms);
// Registered once, both together; a null one, or a second pair, is refused (false).
[[nodiscard]] bool register_relay_io(RelayForwarder forward, RelayReader read);
void forward_to_relay(Bytes buffer);
// -1 when no reader is registered.
int read_from_relay(uint8_t *buf, int room, int wait_ms);

// What the owner registered: the dispatcher's process-wide record. Filled at start-up and read
// by the receive thread; the entries are atomics, so a walk never reads one half-written.
struct DispatchTable {
  std::atomic<PacketHandler> handlers[256]{};
  std::atomic<bool> anyone[256]{};
  std::atomic<ModeObserver> mode_observer{nullptr};
  std::atomic<BufferWalker> relay_walker{nullptr};
  std::atomic<RelayForwarder> relay_forwarder{nullptr};
  std::atomic<RelayReader> relay_reader{nullptr};
};
DispatchTable &dispatch_table();

// The longest unfinished relay record the receive thread holds until its end comes: a 25-byte
// head and up to 1499 bytes of packets.
constexpr int kMaxRelayCarryBytes = 25 + 1499;

// Handles one buffer from the transport; returns the bytes used (the rest, at most
// kMaxCarryBytes, is carried over and put in front of the next datagram from the same sender).
int rx_buffer(const LVXADDR &sender, Bytes buffer);

// True when a datagram opens with a packet header of its own (its second byte is the header
// length, 20, which every packet carries), so that it is not the continuation of bytes carried
// from the one before.
bool begins_with_packet(Bytes datagram);

// Walks the packets of a buffer from its start; returns the bytes used. The buffer is whole (the
// return value is its size) unless a tail of 1..kMaxCarryBytes bytes is left.
int walk_packets(const LVXADDR &sender, Bytes buffer);

// Handles one packet at the start of `packet` (the rest of the buffer from there); returns the
// bytes used, 0 to drop the rest of the buffer, or -1 to stop the walk.
int xlink_rx_process(const LVXADDR &sender, Bytes packet);

}  // namespace lvx
