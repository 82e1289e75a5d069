#include "link/transport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include "common/byte_io.h"
#include "common/text.h"
#include "link/dispatcher.h"
#include "link/link_state.h"
#include "link/log.h"
#include "link/tcp_framing.h"
#include "link/transport_record.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "platform/thread_priority.h"

namespace lvx {

namespace {

constexpr size_t kMaxLocalAddresses = 16;
// How long a normal stop waits for the receive thread.
constexpr int kStopWaitMs = 5000;
// The largest packet any tracker takes (max_send_size() is at most this).
constexpr size_t kLargestPacket = 1024;
// How long one frame may take to go down the TCP stream before the link is declared broken.
constexpr int64_t kTcpSendLimitUs = 2'000'000;

// Finds this machine's addresses and, while the own node name is still "Remote", names the node
// after the host.
void find_local_addresses(Transport &t) {
  t.local.clear();
  LinkRecord &r = link_record();
  std::optional<std::string> host = platform::host_name();
  // Resolving may be slow: do it before taking the link lock.
  if (host) t.local = platform::resolve_ipv4(*host, kMaxLocalAddresses);
  {
    LinkLockGuard lock;
    if (equals_nocase(r.state.own_name, "Remote")) {
      copy_node_name(r.state.own_name, host ? host->substr(0, 38).c_str() : "UnknownHostName");
    }
  }
  std::lock_guard guard(t.testing_mutex);
  if (t.local_override) t.local = *t.local_override;
  if (t.local.size() > kMaxLocalAddresses) t.local.resize(kMaxLocalAddresses);
}

// Sends one frame down the TCP stream: all of it, or nothing more is ever sent. A frame cut off
// part way would leave the tracker reading the rest of the stream out of step, so a frame that
// has not gone whole within limit_us (the tracker stopped reading) or meets a socket error
// declares the link broken. Caller holds the send lock.
int send_tcp_frame(Transport &t, const uint8_t *frame, size_t size, int64_t limit_us) {
  const int64_t deadline = platform::counter_now() / 1000 + limit_us;
  size_t sent = 0;
  while (sent < size) {
    int n = t.tcp.send(frame + sent, size - sent);
    if (n >= 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (-n == platform::kSockIntr) continue;
    if (-n != platform::kSockWouldBlock) return -n;
    int64_t left = deadline - platform::counter_now() / 1000;
    if (left <= 0) return platform::kSockTimedOut;
    int ready = t.tcp.wait_writable(left);
    if (ready < 0) return -ready;
    if (ready == 0) return platform::kSockTimedOut;
  }
  return 0;
}

int16_t send_one(Transport &t, const LVXADDR &dest, const uint8_t *packet, int size,
                 int64_t limit_us) {
  int err = 0;
  if (t.use_tcp_only) {
    // Display-to-tracker frames carry only a 2-byte big-endian length.
    uint8_t frame[kTcpOutgoingHeaderSize + kLargestPacket];
    size_t n = encode_tcp_outgoing_frame(Bytes(packet, static_cast<size_t>(size)), frame);
    if (t.link_broken || !t.tcp.valid()) {
      err = platform::kSockNotConn;
      // A connect made while the stream was failing may have marked the link connected again.
      if (t.link_broken) declare_link_broken(t, "send on a broken link");
    } else if (n == 0) {
      err = platform::kSockMsgSize;
    } else if ((err = send_tcp_frame(t, frame, n, limit_us)) != 0) {
      console_printf("displayAPI: tcp_send() failed (%d)\n", err);
      declare_link_broken(t, err == platform::kSockTimedOut ? "send timed out" : "send failed");
    }
  } else {
    int n = t.udp.send_to(packet, static_cast<size_t>(size), address_endpoint(dest));
    err = n < 0 ? -n : 0;
  }
  if (err != 0) {
    lvx::log_printf("send failed %d r=%d\n", 0, err);
    return static_cast<int16_t>(err);
  }
  return 0;
}

}  // namespace

// Hands one buffer to the dispatcher under the link lock; returns the bytes it used.
int dispatch(Transport &t, const LVXADDR &sender, const uint8_t *buf, int len) {
  LinkLockGuard lock;
  ++t.busy;
  int used = rx_buffer(sender, Bytes(buf, static_cast<size_t>(len)));
  --t.busy;
  return used;
}

void wake_waiter(Transport &t) {
  bool expected = true;
  if (t.waiting.compare_exchange_strong(expected, false)) t.packet_event.set();
}

void mark_done(Transport &t) {
  std::lock_guard lock(t.done_mutex);
  t.done = true;
  t.done_cv.notify_all();
}

void declare_link_broken(Transport &t, const char *why) {
  // Only atomics here: a sender calls this with the send lock held, and nothing takes the link
  // lock while holding the send lock.
  LinkRecord &r = link_record();
  int16_t state = r.is_connected.load();
  bool was_connected = false;
  while (state > 0 && !r.is_connected.compare_exchange_weak(state, 0)) {
  }
  if (state > 0) {
    was_connected = true;
    r.mode_word = 0xFFFF;
  }
  if (t.link_broken.exchange(true)) return;
  log_printf("displayAPI: TCP link broken (%s)%s\n", why, was_connected ? ", is_connected=0" : "");
  // The receive thread ends when its receive fails; the tracker sees the connection close.
  t.tcp.shutdown();
  // Every waiter finds the link down at once instead of sleeping out its wait.
  t.waiting = false;
  t.packet_event.set();
}

void link_lock() {
  transport().link_lock.lock();
}
void link_unlock() {
  transport().link_lock.unlock();
}
LibraryMutex<std::recursive_mutex> &link_lock_handle() {
  return transport().link_lock;
}

TransportOptions &transport_options() {
  return transport().options;
}
bool transport_tcp_only() {
  return transport().use_tcp_only;
}
bool network_running() {
  return transport().running;
}

int init_net() {
  Transport &t = transport();
  console_printf("displayAPI: init_net() start use_tcp_only=%d\n", t.use_tcp_only ? 1 : 0);
  find_local_addresses(t);
  t.link_broken = false;
  t.start_failure.clear();
  if (t.use_tcp_only) {
    if (tcp_connect(t) != 0) {
      console_printf("displayAPI: tcp_connect failed\n");
      return -1;
    }
  } else if (open_udp_socket(t) != 0) {
    console_printf("displayAPI: %s %d failed to create socket\n", __FILE_NAME__, __LINE__);
    return -1;
  }
  t.stop = false;
  t.priority_raised = false;
  t.status_msgs_cnt = 0;
  t.saved_state = kNoSavedState;
  t.seen_status_serial = -1;
  {
    std::lock_guard lock(t.done_mutex);
    t.done = false;
  }
  // Both receive paths wake waiters through the packet event; it exists before the thread runs,
  // so that no wait in between falls back to returning at once.
  t.packet_event.reset();
  t.event_exists = true;
  try {
    t.rx = t.use_tcp_only ? std::thread(rx_thread_tcp, std::ref(t))
                          : std::thread(rx_thread_udp, std::ref(t));
    platform::set_thread_priority(t.rx.native_handle(), t.options.low_priority);
  } catch (const std::system_error &) {
    t.event_exists = false;
    t.udp_open = false;
    std::lock_guard lock(t.send_lock);
    t.udp.close();
    t.tcp.close();
    console_printf("displayAPI: %s %d failed to start network thread\n", __FILE_NAME__, __LINE__);
    t.start_failure = "cannot start the receive thread";
    return -1;
  }
  t.network_started = true;
  t.running = true;
  t.datagrams = 0;
  return 0;
}

void shutdown_net() {
  stop_net(kStopWaitMs);
}

std::string transport_start_failure() {
  return transport().start_failure;
}

bool transport_broken() {
  Transport &t = transport();
  return t.running && t.link_broken;
}

bool stop_net(int wait_ms) {
  Transport &t = transport();
  if (!t.running) return true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  const bool on_rx_thread = t.rx.joinable() && t.rx.get_id() == std::this_thread::get_id();
  if (t.rx.joinable() && !on_rx_thread) {
    platform::set_thread_priority(t.rx.native_handle(), t.options.low_priority);
  }
  t.stop = true;
  t.udp_open = false;
  // Wake a receive in progress, and a send waiting for room; the descriptors are released once
  // the thread has ended.
  t.udp.shutdown();
  t.tcp.shutdown();
  bool ended = false;
  if (!on_rx_thread) {
    std::unique_lock lock(t.done_mutex);
    ended = t.done_cv.wait_until(lock, deadline, [&] { return t.done; });
  }
  if (t.rx.joinable()) {
    if (ended) {
      t.rx.join();
    } else {
      // A thread that did not end (or the thread that asks, when the process exits from one of
      // its callbacks) keeps its socket: closing it under the thread could hand the descriptor
      // number to somebody else while the thread still reads it.
      t.rx.detach();
    }
  }
  {
    // Under the send lock, so that a send on another thread never meets a descriptor being
    // closed. Sends on the shut-down sockets fail at once, so the lock comes quickly; should it
    // not come in time (at process exit another thread may hold it for good), the sockets are
    // left open.
    std::unique_lock lock(t.send_lock, std::defer_lock);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    const bool locked = lock_within(lock, static_cast<int>(std::max<int64_t>(left.count(), 1)));
    if (locked) t.running = false;
    if (locked && ended) {
      t.udp.close();
      t.tcp.close();
    } else if (locked) {
      new platform::Socket(std::move(t.udp));  // deliberately kept open for the stray thread
      new platform::Socket(std::move(t.tcp));
    }
  }
  t.event_exists = false;
  t.bound_port = 0;
  t.running = false;
  return ended;
}

namespace {

int16_t send_locked(Transport &t, const LVXADDR *dest, const void *packet, int size,
                    int64_t limit_us) {
  if (size > max_send_size()) {
    lvx::log_printf("xlink_send_impl failed. dsize too big.  dsize=%d limit = 580", size);
    return LINK_TERMINATED_RESULT;
  }
  if (!t.network_started || !t.running || (!t.udp.valid() && !t.tcp.valid())) return 0;
  if (dest == nullptr || packet == nullptr || size < 0) return -1;
  const auto *bytes = static_cast<const uint8_t *>(packet);
  if (is_broadcast(*dest)) {
    if (t.local.empty()) return -1;
    for (const IPv4 &ip : t.local) {
      IPv4 each = ip;
      each[3] = 255;
      int16_t err = send_one(t, make_address(each, address_port(*dest)), bytes, size, limit_us);
      if (err != 0) return err;
    }
    return 0;
  }
  return send_one(t, *dest, bytes, size, limit_us);
}

}  // namespace

int16_t xlink_send(const LVXADDR *dest, const void *packet, int size) {
  Transport &t = transport();
  std::lock_guard lock(t.send_lock);
  return send_locked(t, dest, packet, size, kTcpSendLimitUs);
}

int16_t xlink_send_within(const LVXADDR *dest, const void *packet, int size, int wait_ms) {
  Transport &t = transport();
  std::unique_lock lock(t.send_lock, std::defer_lock);
  if (!lock_within(lock, wait_ms)) return LINK_TERMINATED_RESULT;
  // The frame itself gets no longer than the lock did: at process exit a tracker that stopped
  // reading must not hold the exit for the usual 2 s.
  return send_locked(t, dest, packet, size,
                     std::min<int64_t>(kTcpSendLimitUs, int64_t{std::max(wait_ms, 1)} * 1000));
}

void wait_for_packet() {
  wait_for_packet_unless([] { return false; });
}

void wait_for_packet_unless(const std::function<bool()> &ready) {
  Transport &t = transport();
  t.waiting.exchange(true);
  if (ready()) return;
  if (!t.event_exists) {
    std::this_thread::yield();
    return;
  }
  if (t.packet_event.wait_for_ms(10)) t.packet_event.reset();
}

std::vector<IPv4> local_addresses() {
  return transport().local;
}
uint16_t bound_port() {
  return transport().bound_port;
}
uint32_t received_datagrams() {
  return transport().datagrams;
}
uint32_t last_receive_time() {
  return transport().lastrecv;
}
double receive_thread_cpu_seconds() {
  Transport &t = transport();
  if (!t.running || !t.rx.joinable()) return -1.0;
  return platform::thread_cpu_seconds(t.rx.native_handle());
}

void set_last_status_serial(int64_t serial) {
  transport().last_status_serial = serial;
}
int64_t last_status_serial() {
  return transport().last_status_serial;
}

void set_local_addresses_for_testing(std::optional<std::vector<IPv4>> addresses) {
  std::lock_guard lock(transport().testing_mutex);
  transport().local_override = std::move(addresses);
}

bool address_from_text(const char *text, bool remote, LVXADDR *addr) {
  IPv4 ip{};
  if (text == nullptr || !parse_dotted(text, &ip)) return false;
  const Transport &t = transport();
  uint16_t port = remote           ? t.options.remote_port
                  : t.use_tcp_only ? t.options.tracker_tcp_port
                                   : t.options.tracker_port;
  if (addr != nullptr) *addr = make_address(ip, port);
  return true;
}

bool set_tcp_only() {
  Transport &t = transport();
  if (t.network_started) return false;
  t.use_tcp_only = true;
  return true;
}

void set_receive_timeout_for_testing(int ms) {
  std::lock_guard lock(transport().testing_mutex);
  transport().receive_timeout_ms = ms > 0 ? ms : kReceiveTimeoutMs;
}

}  // namespace lvx
