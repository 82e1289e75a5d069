// The transport's process-wide record, shared by the three files of the transport: transport.cpp
// (start, stop, send, waits), udp_receive.cpp and tcp_receive.cpp (the two receive paths), and
// held by the owner. Not for use elsewhere outside the link.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/address.h"
#include "link/user_calls.h"
#include "lumavex_core.h"
#include "platform/event.h"
#include "platform/net.h"

namespace lvx {

constexpr int kReceiveBufferSize = 4096;
// The largest datagram or frame the link carries.
constexpr int kMaxDatagram = 1500;
constexpr int kReceiveTimeoutMs = 200;
// A connected tracker silent for this many receive time-outs (20 s) marks the link disconnected.
constexpr int kSilentTimeouts = 100;
constexpr int kNoSavedState = -100;

// The transport's process-wide record. It lives for the whole process, so that a receive thread
// that outlives a bounded stop still finds it.
//  - use_tcp_only and network_started are set by the application thread before or when the
//    transport starts; network_started is never cleared.
//  - The sockets are created and closed by the application thread that starts and stops the
//    transport; between those points the receive thread is their only reader.
//  - status_msgs_cnt, quiet_since_ms, silence_limit_ms, saved_state and seen_status_serial
//    belong to the receive thread (silence_limit_ms is set before it starts).
//  - busy is changed only under the link lock.
//  - link_broken is raised by whichever thread finds the TCP stream unusable (the receive thread
//    when the stream ends or is corrupt, a sender whose frame could not go whole) and lowered
//    only by the next start.
//  - The sockets are closed, and replaced at a start, under the send lock, so that a send on
//    another thread never meets a descriptor being closed.
struct Transport {
  std::atomic<bool> use_tcp_only{false};
  std::atomic<bool> network_started{false};
  std::atomic<bool> running{false};
  TransportOptions options;

  platform::Socket udp;
  platform::Socket tcp;
  std::atomic<bool> udp_open{false};
  uint16_t bound_port = 0;
  std::vector<IPv4> local;
  LVXADDR tracker_tcp_address{};

  std::thread rx;
  std::atomic<bool> stop{false};
  std::atomic<bool> priority_raised{false};
  std::atomic<bool> link_broken{false};
  std::mutex done_mutex;
  std::condition_variable done_cv;
  bool done = false;

  std::atomic<uint32_t> datagrams{0};
  std::atomic<uint32_t> lastrecv{0};
  std::atomic<int64_t> last_status_serial{-1};
  int status_msgs_cnt = 0;        // receive time-outs' worth of silence from the tracker
  uint32_t quiet_since_ms = 0;    // local time the tracker was last heard (or watching began)
  uint32_t silence_limit_ms = 0;  // silence that marks the link disconnected
  int saved_state = kNoSavedState;
  int64_t seen_status_serial = -1;
  int busy = 0;

  LibraryMutex<std::recursive_mutex> link_lock;
  std::mutex send_lock;
  platform::ManualResetEvent packet_event;
  std::atomic<bool> event_exists{false};
  std::atomic<bool> waiting{false};

  // Why the last start failed, in words a user can act on; written and read by the thread that
  // starts the transport.
  std::string start_failure;

  std::mutex testing_mutex;
  std::optional<std::vector<IPv4>> local_override;
  int receive_timeout_ms = kReceiveTimeoutMs;
};

Transport &transport();

// Hands one buffer to the dispatcher under the link lock; returns the bytes it used.
int dispatch(Transport &t, const LVXADDR &sender, const uint8_t *buf, int len);
// Wakes an application thread that announced a wait.
void wake_waiter(Transport &t);
// Tells a stopping application thread that the receive thread has ended.
void mark_done(Transport &t);
// Declares the TCP link unusable: marks the link disconnected, shuts the socket down (which ends
// the receive thread and makes later sends fail at once) and wakes every waiting thread. Called
// once per start by the receive thread or by a sender (which holds the send lock, so this takes
// no link lock); later calls only mark the link disconnected again.
void declare_link_broken(Transport &t, const char *why);

// Silence detection, for both receive paths (receive thread): watch_silence marks a connected
// link whose tracker has not been heard for silence_limit_ms disconnected, with its state saved;
// restore_silenced brings it back in that state once the tracker is heard again (false when
// there is nothing to restore).
void watch_silence(Transport &t, LinkRecord &r, uint32_t now, int received);
bool restore_silenced(Transport &t, LinkRecord &r);

// UDP: opens the bound, broadcast-enabled socket with its receive time-out (0 or -1), and the
// receive thread's body.
int open_udp_socket(Transport &t);
void rx_thread_udp(Transport &t);

// TCP-only mode: connects to the tracker's TCP port and greets it (0 or a negative code), and the
// receive thread's body, which declares the link broken when it ends without being asked to.
int tcp_connect(Transport &t);
void rx_thread_tcp(Transport &t);

}  // namespace lvx
