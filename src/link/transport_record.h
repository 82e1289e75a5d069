// The transport's process-wide record, shared by the three files of the transport: transport.cpp
// (start, stop, send, waits), udp_receive.cpp and tcp_receive.cpp (the two receive paths). Not
// for use outside the link.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "link/address.h"
#include "link/user_calls.h"
#include "lumavex_core.h"
#include "platform/event.h"
#include "platform/net.h"

namespace lvx {

constexpr int kReceiveBufferSize = 4096;
constexpr int kMaxFrame = 1500;
constexpr int kReceiveTimeoutMs = 200;
constexpr int kNoSavedState = -100;

// The transport's process-wide record. It lives for the whole process, so that a receive thread
// that outlives a bounded stop still finds it.
//  - use_tcp_only and network_started are set by the application thread before or when the
//    transport starts; network_started is never cleared.
//  - The sockets are created and closed by the application thread that starts and stops the
//    transport; between those points the receive thread is their only reader.
//  - status_msgs_cnt, saved_state and seen_status_serial belong to the receive thread.
//  - busy is changed only under the link lock.
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
  std::mutex done_mutex;
  std::condition_variable done_cv;
  bool done = false;

  std::atomic<uint32_t> datagrams{0};
  std::atomic<uint32_t> lastrecv{0};
  std::atomic<int64_t> last_status_serial{-1};
  int status_msgs_cnt = 0;
  int saved_state = kNoSavedState;
  int64_t seen_status_serial = -1;
  int busy = 0;

  LibraryMutex<std::recursive_mutex> link_lock;
  std::mutex send_lock;
  platform::ManualResetEvent packet_event;
  std::atomic<bool> event_exists{false};
  std::atomic<bool> waiting{false};

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

// UDP: opens the bound, broadcast-enabled socket with its receive time-out (0 or -1), and the
// receive thread's body.
int open_udp_socket(Transport &t);
void rx_thread_udp(Transport &t);

// TCP-only mode: connects to the tracker's TCP port and greets it (0 or a negative code), and the
// receive thread's body.
int tcp_connect(Transport &t);
void rx_thread_tcp(Transport &t);

}  // namespace lvx
