#include "link/transport.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "common/byte_io.h"
#include "common/text.h"
#include "display/alert.h"
#include "link/clock.h"
#include "link/dispatcher.h"
#include "link/link_state.h"
#include "platform/event.h"
#include "platform/net.h"
#include "platform/process.h"
#include "platform/thread_priority.h"

namespace lvx {

namespace {

constexpr int kReceiveBufferSize = 4096;
constexpr int kMaxFrame = 1500;
constexpr int kReceiveTimeoutMs = 200;
constexpr int kSilentTimeouts = 100;  // 100 receive time-outs: 20 s without a datagram
constexpr int kNoSavedState = -100;
constexpr int kUdpBufferBytes = 4 * 1024 * 1024;
constexpr size_t kMaxLocalAddresses = 16;

// The transport's process-wide record.
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

  std::recursive_mutex link_lock;
  std::mutex send_lock;
  platform::ManualResetEvent packet_event;
  std::atomic<bool> event_exists{false};
  std::atomic<bool> waiting{false};

  std::mutex scratch_mutex;
  std::unique_ptr<uint8_t[]> scratch;
  size_t scratch_size = 0;

  std::mutex testing_mutex;
  std::optional<std::vector<IPv4>> local_override;
  int receive_timeout_ms = kReceiveTimeoutMs;
};

Transport &transport() {
  static Transport t;
  return t;
}

std::string dotted(const LVXADDR &a) {
  char buf[20];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", a.addr[0], a.addr[1], a.addr[2], a.addr[3]);
  return buf;
}

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

int open_udp_socket(Transport &t) {
  int err = 0;
  platform::Socket s = platform::Socket::udp(&err);
  if (!s.valid()) {
    std::printf("displayApi: Socket open failed: %d %s \n", err, platform::socket_error_text(err));
    return -1;
  }
  if ((err = s.set_blocking(true)) != 0) {
    std::printf("displayApi: IOCTL failed setting blocking state: %d : %s %d ", err,
                platform::socket_error_text(err), __LINE__);
    return -1;
  }
  uint16_t port = t.options.remote_port;
  for (int tries = 0; tries <= 10; ++tries) {
    err = s.bind(platform::Endpoint{{0, 0, 0, 0}, port});
    if (err != platform::kSockAddrInUse || tries == 10) break;
    ++port;
  }
  if (err != 0) {
    std::printf("displayApi: Socket BIND failed: %d %s :%d port %d\n", err,
                platform::socket_error_text(err), __LINE__, port);
    return -1;
  }
  if ((err = s.set_broadcast(true)) != 0) {
    std::printf("displayApi: Socket Broadcast enable failed: %d %s \n", err,
                platform::socket_error_text(err));
    return -1;
  }
  int timeout_ms;
  {
    std::lock_guard guard(t.testing_mutex);
    timeout_ms = t.receive_timeout_ms;
  }
  if ((err = s.set_receive_timeout_ms(timeout_ms)) != 0) {
    std::printf("displayApi: Socket RCTTIMEO enable failed: %d %s \n", err,
                platform::socket_error_text(err));
    return -1;
  }
  // A large receive buffer rides out bursts of data packets while the receive thread is busy.
  s.set_receive_buffer(kUdpBufferBytes);
  t.bound_port = s.local_endpoint().port;
  t.udp = std::move(s);
  t.udp_open = true;
  return 0;
}

int tcp_connect(Transport &t) {
  int err = 0;
  platform::Socket s = platform::Socket::tcp(&err);
  if (!s.valid()) {
    add_to_lumavex_log("tcp_connect INVALID_SOCKET line %d\n", __LINE__);
    alert("tcp_connect: INVALID_SOCKET\n");
    return -7;
  }
  if (s.set_blocking(false) != 0) {
    add_to_lumavex_log("tcp_connect failed setting block line %d\n", __LINE__);
    alert("tcp_connect: ioctlsocket failed\n");
    return -8;
  }
  if (s.set_receive_timeout_ms(kReceiveTimeoutMs) != 0) {
    add_to_lumavex_log("tcp_connect setsockopt failed line %d\n", __LINE__);
    alert("tcp_connect: setsockopt timeout failed\n");
    return -1;
  }
  {
    LinkLockGuard lock;
    t.tracker_tcp_address = link_record().tracker_node;
  }
  t.tracker_tcp_address.port[0] = LUMAVEX_TRACKER_TCP_PORT >> 8;
  t.tracker_tcp_address.port[1] = LUMAVEX_TRACKER_TCP_PORT & 0xFF;
  add_to_lumavex_log("displayAPI: tcp_connect() to %s:%d (block=%d)\n",
                     dotted(t.tracker_tcp_address).c_str(), LUMAVEX_TRACKER_TCP_PORT, 0);
  err = s.connect_start(address_endpoint(t.tracker_tcp_address));
  if (err == platform::kSockWouldBlock || err == platform::kSockInProgress) {
    err = s.wait_writable(2000000 + 200000) == 1 ? 0 : platform::kSockTimedOut;
  }
  if (err != 0) {
    add_to_lumavex_log("tcp_connect connect timeout line %d\n", __LINE__);
    alert("tcp_connect: connect timeout\n");
    return -10;
  }
  static const char kGreeting[6] = {'H', 'E', 'L', 'O', ' ', '\0'};
  if ((err = s.send_all(kGreeting, sizeof kGreeting)) != 0) {
    std::printf("displayAPI: tcp_connect() HELO failed %d\n", err);
    add_to_lumavex_log("tcp_connect connect failed line %d\n", __LINE__);
    alert("tcp_connect: connect failed\n");
    return -11;
  }
  add_to_lumavex_log("displayAPI: tcp_connect() HELO message sent\n");
  t.tcp = std::move(s);
  return 0;
}

// Hands one buffer to the dispatcher under the link lock; returns the bytes it used.
int dispatch(Transport &t, const LVXADDR &sender, const uint8_t *buf, int len) {
  LinkLockGuard lock;
  ++t.busy;
  int used = rx_buffer(sender, buf, len);
  --t.busy;
  return used;
}

void wake_waiter(Transport &t) {
  bool expected = true;
  if (t.waiting.compare_exchange_strong(expected, false)) t.packet_event.set();
}

// Receives one datagram. Returns the byte count, 0 for nothing, or minus a socket error.
int net_receive(Transport &t, uint8_t *buf, int len, LVXADDR *from) {
  if (!t.network_started) return -1;
  LinkRecord &r = link_record();

  // A new status serial shows that the tracker is talking again after a silence.
  int64_t serial = t.last_status_serial.load();
  if (serial != t.seen_status_serial) {
    t.seen_status_serial = serial;
    if (serial != -1 && r.is_connected == 0 && t.saved_state != kNoSavedState) {
      r.is_connected = 1;
      t.status_msgs_cnt = 0;
      add_to_lumavex_log("%s:%d is_connected=%d net_receive() recover\n", __FILE_NAME__, __LINE__,
                         r.is_connected.load());
      add_to_lumavex_log("displayAPI: connected 0->1\n");
    }
  }

  platform::Endpoint sender;
  int n = t.udp.recv_from(buf, static_cast<size_t>(len), &sender);
  if (n < 0 || (n == 0 && !t.udp_open)) {
    if (!t.udp_open) return 0;
    int err = -n;
    if (err != platform::kSockTimedOut && err != platform::kSockWouldBlock) {
      platform::set_current_thread_priority(t.options.low_priority);
      t.priority_raised = false;
      return -err;
    }
    if (r.is_connected != 0 && t.last_status_serial.load() != -1) {
      if (++t.status_msgs_cnt == kSilentTimeouts) {
        t.saved_state = r.is_connected;
        r.is_connected = 0;
        add_to_lumavex_log(
            "%s:%d is_connected=%d net_receive() fail. status_msgs_cnt=%d r=%d lastrecv=%d "
            "current_time=%d \n",
            __FILE_NAME__, __LINE__, r.is_connected.load(), t.status_msgs_cnt, n,
            static_cast<int>(t.lastrecv.load()), static_cast<int>(current_time()));
      }
    }
    return 0;
  }
  if (n == 0) return 0;

  t.lastrecv = current_time();
  if (!t.priority_raised) {
    platform::set_current_thread_priority(t.options.high_priority);
    t.priority_raised = true;
  }
  *from = endpoint_address(sender);
  // Our own broadcasts come back to us: drop them.
  for (const IPv4 &ip : t.local) {
    if (ip == sender.ip) return 0;
  }
  t.status_msgs_cnt = 0;
  ++t.datagrams;
  if (r.is_connected == 0 && t.saved_state != kNoSavedState) {
    r.is_connected = static_cast<int16_t>(t.saved_state);
    t.saved_state = kNoSavedState;
    add_to_lumavex_log(
        "%s:%d is_connected=%d net_receive() cancel disconnect .. status_msgs_cnt=%d r=%d \n",
        __FILE_NAME__, __LINE__, r.is_connected.load(), t.status_msgs_cnt, n);
  }
  return n;
}

void mark_done(Transport &t) {
  std::lock_guard lock(t.done_mutex);
  t.done = true;
  t.done_cv.notify_all();
}

void rx_thread_udp(Transport &t) {
  t.packet_event.reset();
  t.event_exists = true;
  add_to_lumavex_log("API-2516 RX_thread_process started \n");
  uint8_t buf[kReceiveBufferSize];
  int carry = 0;
  while (!t.stop) {
    LVXADDR from{};
    int n = net_receive(t, buf + carry, kReceiveBufferSize - carry, &from);
    if (n <= 0) continue;
    int total = carry + n;
    int used = dispatch(t, from, buf, total);
    carry = total - used;
    if (carry > 0) {
      std::memmove(buf, buf + used, static_cast<size_t>(carry));
    } else {
      carry = 0;
    }
    wake_waiter(t);
  }
  add_to_lumavex_log("API-2516 RX_thread_process Done \n");
  mark_done(t);
}

// Reads "LV" frames from the TCP stream and dispatches each whole. A corrupt stream or a broken
// connection ends the reader; the link stays up without one.
void tcp_rx_process(Transport &t) {
  if (!t.use_tcp_only) {
    std::printf("displayAPI: xlink_tcp_rx_process: not using TCP, aborting\n");
    return;
  }
  uint8_t buf[kReceiveBufferSize];
  int held = 0;
  while (!t.stop) {
    // The socket does not block, so wait for data for up to the receive time-out: this keeps a
    // stop request noticed within 200 ms without spinning.
    int ready = t.tcp.wait_readable(kReceiveTimeoutMs * 1000);
    if (ready == 0) continue;
    int n = ready < 0 ? ready : t.tcp.recv(buf + held, kMaxFrame);
    if (n < 0 && (-n == platform::kSockTimedOut || -n == platform::kSockWouldBlock)) continue;
    if (n <= 0) {
      if (t.stop) return;
      std::printf("displayAPI: xlink_tcp_rx_process: net_receive %d (%d) >>> aborting\n", n,
                  n < 0 ? -n : 0);
      return;
    }
    int total = held + n;
    int off = 0;
    Bytes all(buf, static_cast<size_t>(total));
    while (total - off >= 4) {
      if (buf[off] != 'L' || buf[off + 1] != 'V') {
        std::printf("displayAPI: xlink_tcp_rx_process: invalid prefix, aborting\n");
        return;
      }
      int dlen = get_u16(all, static_cast<size_t>(off) + 2);
      if (dlen > kMaxFrame) {
        std::printf("displayAPI: xlink_tcp_rx_process: invalid dlen %d, aborting\n", dlen);
        return;
      }
      if (total - off < dlen + 4) break;
      if (dlen > 0) {
        int r = dispatch(t, t.tracker_tcp_address, buf + off + 4, dlen);
        if (r < 0) {
          add_to_lumavex_log("xlink_tcp_rx_process:xlink_rx_process returned error code %d\n", r);
        }
      }
      off += dlen + 4;
      if (off >= kReceiveBufferSize) {
        std::printf("displayAPI: xlink_tcp_rx_process: invalid offset, aborting\n");
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    held = total - off;
    if (held > 0 && off > 0) std::memmove(buf, buf + off, static_cast<size_t>(held));
  }
}

void rx_thread_tcp(Transport &t) {
  add_to_lumavex_log("displayAPI: RX_thread_tcp_process started\n");
  if (!t.stop) tcp_rx_process(t);
  mark_done(t);
}

int16_t send_one(Transport &t, const LVXADDR &dest, const uint8_t *packet, int size) {
  int err = 0;
  if (t.use_tcp_only) {
    // Display-to-tracker frames carry only a 2-byte big-endian length.
    uint8_t frame[2 + 1024];
    put_u16(MutableBytes(frame), 0, static_cast<uint16_t>(size));
    std::memcpy(frame + 2, packet, static_cast<size_t>(size));
    err = t.tcp.valid() ? t.tcp.send_all(frame, static_cast<size_t>(size) + 2)
                        : platform::kSockNotConn;
    if (err != 0) std::printf("displayAPI: tcp_send() failed (%d)\n", err);
  } else {
    int n = t.udp.send_to(packet, static_cast<size_t>(size), address_endpoint(dest));
    err = n < 0 ? -n : 0;
  }
  if (err != 0) {
    add_to_lumavex_log("send failed %d r=%d\n", 0, err);
    return static_cast<int16_t>(err);
  }
  return 0;
}

}  // namespace

void link_lock() {
  transport().link_lock.lock();
}
void link_unlock() {
  transport().link_lock.unlock();
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
  std::printf("displayAPI: init_net() start use_tcp_only=%d\n", t.use_tcp_only ? 1 : 0);
  find_local_addresses(t);
  if (t.use_tcp_only) {
    if (tcp_connect(t) != 0) {
      std::printf("displayAPI: tcp_connect failed\n");
      return -1;
    }
  } else if (open_udp_socket(t) != 0) {
    std::printf("displayAPI: %s %d failed to create socket\n", __FILE_NAME__, __LINE__);
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
  try {
    t.rx = t.use_tcp_only ? std::thread(rx_thread_tcp, std::ref(t))
                          : std::thread(rx_thread_udp, std::ref(t));
    platform::set_thread_priority(t.rx.native_handle(), t.options.low_priority);
  } catch (const std::system_error &) {
    t.udp_open = false;
    t.udp.close();
    t.tcp.close();
    std::printf("displayAPI: %s %d failed to start network thread\n", __FILE_NAME__, __LINE__);
    return -1;
  }
  t.network_started = true;
  t.running = true;
  t.datagrams = 0;
  return 0;
}

void shutdown_net() {
  Transport &t = transport();
  if (!t.running) return;
  if (t.rx.joinable()) platform::set_thread_priority(t.rx.native_handle(), t.options.low_priority);
  t.stop = true;
  t.udp_open = false;
  // Wake a receive in progress; the descriptors are released once the thread has ended.
  t.udp.shutdown();
  t.tcp.shutdown();
  bool ended;
  {
    std::unique_lock lock(t.done_mutex);
    ended = t.done_cv.wait_for(lock, std::chrono::milliseconds(5000), [&] { return t.done; });
  }
  if (t.rx.joinable()) {
    if (ended) {
      t.rx.join();
    } else {
      // A thread that did not end keeps its socket: closing it under the thread could hand the
      // descriptor number to somebody else while the thread still reads it.
      t.rx.detach();
      new platform::Socket(std::move(t.udp));  // deliberately kept open for the stray thread
      new platform::Socket(std::move(t.tcp));
    }
  }
  if (ended) {
    t.udp.close();
    t.tcp.close();
  }
  t.event_exists = false;
  t.bound_port = 0;
  t.running = false;
}

int16_t xlink_send(const LVXADDR *dest, const void *packet, int size) {
  Transport &t = transport();
  std::lock_guard lock(t.send_lock);
  if (size > max_send_size()) {
    add_to_lumavex_log("xlink_send_impl failed. dsize too big.  dsize=%d limit = 580", size);
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
      int16_t err = send_one(t, make_address(each, address_port(*dest)), bytes, size);
      if (err != 0) return err;
    }
    return 0;
  }
  return send_one(t, *dest, bytes, size);
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

void *scratch_buffer(size_t request, size_t *size) {
  Transport &t = transport();
  if (request < 1000) return nullptr;
  std::lock_guard lock(t.scratch_mutex);
  if (!t.scratch) {
    t.scratch = std::make_unique<uint8_t[]>(request);
    t.scratch_size = request;
  }
  if (size) *size = t.scratch_size;
  return t.scratch.get();
}

void free_scratch_buffer() {
  Transport &t = transport();
  std::lock_guard lock(t.scratch_mutex);
  t.scratch.reset();
  t.scratch_size = 0;
}

void set_local_addresses_for_testing(std::optional<std::vector<IPv4>> addresses) {
  std::lock_guard lock(transport().testing_mutex);
  transport().local_override = std::move(addresses);
}

void set_receive_timeout_for_testing(int ms) {
  std::lock_guard lock(transport().testing_mutex);
  transport().receive_timeout_ms = ms > 0 ? ms : kReceiveTimeoutMs;
}

}  // namespace lvx

extern "C" {

int16_t text_to_lvxaddr(const char *text, LVXADDR *addr, int16_t remote) {
  lvx::IPv4 ip{};
  if (text == nullptr || !lvx::parse_dotted(text, &ip)) return -1;
  uint16_t port = remote                      ? lvx::transport_options().remote_port
                  : lvx::transport_tcp_only() ? uint16_t{LUMAVEX_TRACKER_TCP_PORT}
                                              : lvx::transport_options().tracker_port;
  if (addr) *addr = lvx::make_address(ip, port);
  return 0;
}

int16_t set_lumavex_address(const char *text) {
  LVXADDR a{};
  if (text_to_lvxaddr(text, &a, 0) != 0) return -1;
  return lumavex_set_tracker_node(&a);
}

int16_t set_lumavex_tcp_only(int /*enable*/) {
  lvx::Transport &t = lvx::transport();
  if (t.network_started) return -1;
  t.use_tcp_only = true;
  return 0;
}

}  // extern "C"
