// The UDP receive path: the link socket, and the receive thread that reads datagrams, watches
// for silence and hands each datagram to the dispatcher.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "link/clock.h"
#include "link/dispatcher.h"
#include "link/link_state.h"
#include "link/log.h"
#include "link/tracker_clock.h"
#include "link/transport.h"
#include "link/transport_record.h"
#include "platform/thread_priority.h"

namespace lvx {

namespace {

constexpr int kUdpBufferBytes = 4 * 1024 * 1024;
constexpr int64_t kLongestArrivalAgeNs = 1000000000;

// Whether a datagram comes from the tracker the link is (or was, until it fell silent)
// connected to. The receive thread is the only writer of the tracker address, so it reads it
// without the link lock.
bool from_link_tracker(const LinkRecord &r, const LVXADDR &sender) {
  return r.is_connected < 0 || same_node(sender, r.tracker_address);
}

// Receives one datagram. Returns the byte count, 0 for nothing, or minus a socket error.
// *arrival_usec receives the local time the system took the datagram in, or -1 when unknown.
int net_receive(Transport &t, uint8_t *buf, int len, LVXADDR *from, double *arrival_usec) {
  if (!t.network_started) return -1;
  LinkRecord &r = link_record();

  // A new status serial shows that the tracker is talking again after a silence. (While the
  // link has a tracker, only the tracker's status packets set the serial.)
  int64_t serial = t.last_status_serial.load();
  if (serial != t.seen_status_serial) {
    t.seen_status_serial = serial;
    if (serial != -1 && restore_silenced(t, r)) {
      t.quiet_since_ms = local_ms();
      t.status_msgs_cnt = 0;
      log_printf("%s:%d is_connected=%d net_receive() recover\n", __FILE_NAME__, __LINE__,
                 r.is_connected.load());
      log_printf("displayAPI: connected 0->1\n");
    }
  }

  platform::Endpoint sender;
  int64_t age_ns = -1;
  int n = t.udp.recv_from(buf, static_cast<size_t>(len), &sender, &age_ns);
  // An age beyond a second is more likely a step of the wall clock the stamps are on than a
  // datagram that waited that long: it is not used.
  *arrival_usec = age_ns >= 0 && age_ns <= kLongestArrivalAgeNs
                      ? local_double_usec() - static_cast<double>(age_ns) / 1000.0
                      : -1.0;
  if (n < 0 || (n == 0 && !t.udp_open)) {
    if (!t.udp_open) return 0;
    int err = -n;
    if (err != platform::kSockTimedOut && err != platform::kSockWouldBlock) {
      platform::set_current_thread_priority(t.options.low_priority);
      t.priority_raised = false;
      return -err;
    }
    watch_silence(t, r, local_ms(), n);
    return 0;
  }
  if (n == 0) return 0;

  const uint32_t now = local_ms();
  t.lastrecv = now;
  if (!t.priority_raised) {
    platform::set_current_thread_priority(t.options.high_priority);
    t.priority_raised = true;
  }
  *from = endpoint_address(sender);
  // Our own broadcasts come back to us: drop them.
  for (const IPv4 &ip : t.local) {
    if (ip == sender.ip) return 0;
  }
  ++t.datagrams;
  if (!from_link_tracker(r, *from)) {
    watch_silence(t, r, now, n);
    return n;
  }
  t.quiet_since_ms = now;
  t.status_msgs_cnt = 0;
  if (restore_silenced(t, r)) {
    log_printf(
        "%s:%d is_connected=%d net_receive() cancel disconnect .. status_msgs_cnt=%d r=%d \n",
        __FILE_NAME__, __LINE__, r.is_connected.load(), t.status_msgs_cnt, n);
  }
  return n;
}

}  // namespace

// Watches for a silent tracker (over UDP and over TCP): once connected and answered, a link that
// hears nothing from its tracker for kSilentTimeouts receive time-outs (20 s) is marked
// disconnected, with the state it had saved. Only the tracker's own datagrams count. Another
// program's traffic on the port (keep-alives of a second tracker, say) used to keep a dead link
// looking alive: every datagram reset the count of time-outs, and traffic arriving more often than
// the time-out kept it from ever advancing. The silence is therefore measured in time since the
// tracker was last heard.
void watch_silence(Transport &t, LinkRecord &r, uint32_t now, int received) {
  const bool watching = r.is_connected != 0 && t.last_status_serial.load() != -1 && !r.silenced;
  if (!watching) {
    t.quiet_since_ms = now;
    t.status_msgs_cnt = 0;
    return;
  }
  const uint32_t quiet = now - t.quiet_since_ms;
  const uint32_t timeout_ms = t.silence_limit_ms / kSilentTimeouts;
  t.status_msgs_cnt = static_cast<int>(quiet / (timeout_ms > 0 ? timeout_ms : 1));
  if (quiet < t.silence_limit_ms) return;
  t.saved_state = r.is_connected;
  r.silenced = true;
  r.is_connected = 0;
  log_printf(
      "%s:%d is_connected=%d net_receive() fail. status_msgs_cnt=%d r=%d lastrecv=%d "
      "current_time=%d \n",
      __FILE_NAME__, __LINE__, r.is_connected.load(), t.status_msgs_cnt, received,
      static_cast<int>(t.lastrecv.load()), static_cast<int>(now));
}

// Brings back the connection that fell silent, in the state it had. False when there is none
// (the application has connected or disconnected since, which voids it).
bool restore_silenced(Transport &t, LinkRecord &r) {
  if (r.is_connected != 0 || !r.silenced.exchange(false)) return false;
  r.is_connected = static_cast<int16_t>(t.saved_state);
  t.saved_state = kNoSavedState;
  return true;
}

int open_udp_socket(Transport &t) {
  int err = 0;
  auto failed = [&t](const char *what, int code) {
    t.start_failure = std::string(what) + ": " + platform::socket_error_text(code) + " (" +
                      platform::socket_error_name(code) + ")";
    return -1;
  };
  platform::Socket s = platform::Socket::udp(&err);
  if (!s.valid()) {
    console_printf("displayApi: Socket open failed: %s %s \n", platform::socket_error_name(err),
                   platform::socket_error_text(err));
    return failed("cannot make the link's UDP socket", err);
  }
  if ((err = s.set_blocking(true)) != 0) {
    console_printf("displayApi: IOCTL failed setting blocking state: %s : %s\n",
                   platform::socket_error_name(err), platform::socket_error_text(err));
    return failed("cannot set up the link's UDP socket", err);
  }
  uint16_t port = t.options.remote_port;
  for (int tries = 0; tries <= 10; ++tries) {
    err = s.bind(platform::Endpoint{{0, 0, 0, 0}, port});
    if (err != platform::kSockAddrInUse || tries == 10) break;
    ++port;
  }
  if (err != 0) {
    console_printf("displayApi: Socket BIND failed: %s %s port %d\n",
                   platform::socket_error_name(err), platform::socket_error_text(err), port);
    if (err == platform::kSockAddrInUse) {
      t.start_failure = "no free local UDP port: " + std::to_string(t.options.remote_port) +
                        " to " + std::to_string(port) + " are all in use (EADDRINUSE)";
      return -1;
    }
    return failed(("cannot bind local UDP port " + std::to_string(port)).c_str(), err);
  }
  if ((err = s.set_broadcast(true)) != 0) {
    console_printf("displayApi: Socket Broadcast enable failed: %s %s \n",
                   platform::socket_error_name(err), platform::socket_error_text(err));
    return failed("cannot enable broadcasts on the link's UDP socket", err);
  }
  int timeout_ms;
  {
    std::lock_guard guard(t.testing_mutex);
    timeout_ms = t.receive_timeout_ms;
  }
  t.silence_limit_ms = static_cast<uint32_t>(kSilentTimeouts * timeout_ms);
  if ((err = s.set_receive_timeout_ms(timeout_ms)) != 0) {
    console_printf("displayApi: Socket RCTTIMEO enable failed: %s %s \n",
                   platform::socket_error_name(err), platform::socket_error_text(err));
    return failed("cannot set the link's receive time-out", err);
  }
  // A large receive buffer rides out bursts of data packets while the receive thread is busy.
  s.set_receive_buffer(kUdpBufferBytes);
  // Arrival stamps time the tracker's headers from when they arrived, not from when the receive
  // thread woke up to them (without them, the moment of the walk serves).
  s.set_arrival_stamps(true);
  t.bound_port = s.local_endpoint().port;
  t.udp = std::move(s);
  t.udp_open = true;
  return 0;
}

// The receive thread. A tail that the walk leaves unused (a packet cut short) is carried to the
// front of the buffer and walked again with the next datagram, but only with the next datagram
// from the same sender, only when that datagram does not begin with a packet of its own, and
// never more than kMaxCarryBytes of it: bytes of one node's datagram
// glued to another's spoilt that datagram, and a carry that grew with every pass left the next
// read no room at all, so that every later datagram was swallowed and the link went deaf.
void rx_thread_udp(Transport &t) {
  t.packet_event.reset();
  t.event_exists = true;
  log_printf("API-2516 RX_thread_process started \n");
  uint8_t buf[kReceiveBufferSize];
  static_assert(kReceiveBufferSize - kMaxCarryBytes >= kMaxDatagram,
                "a read after the largest carry must still hold a whole datagram");
  static_assert(kReceiveBufferSize - kMaxRelayCarryBytes >= kMaxRelayCarryBytes,
                "a read after an unfinished relay record must have room for its end");
  int carry = 0;
  LVXADDR carry_from{};
  t.quiet_since_ms = local_ms();
  while (!t.stop) {
    LVXADDR from{};
    double arrival_usec = -1.0;
    // Connected through the local relay, the relay master's records take the link's place. Its
    // records come from no node: their carry stays theirs and is dropped before a datagram.
    const bool relayed = link_record().is_connected < 0;
    int n = relayed ? read_from_relay(buf + carry, kReceiveBufferSize - carry, kReceiveTimeoutMs)
                    : net_receive(t, buf + carry, kReceiveBufferSize - carry, &from, &arrival_usec);
    if (n <= 0) {
      if (relayed && n < 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    if (carry > 0 && !same_node(from, carry_from)) {
      log_printf("API-2516 Carry %d dropped: next datagram from another node\n", carry);
      std::memmove(buf, buf + carry, static_cast<size_t>(n));
      carry = 0;
    } else if (carry > 0 && !relayed &&
               begins_with_packet(Bytes(buf + carry, static_cast<size_t>(n)))) {
      // A datagram that opens with a packet header of its own is not the rest of the carried
      // bytes: joined to them it would be walked out of step and lost with them (a short
      // datagram from the tracker used to cost the packets of its next one). The relay's stream
      // is cut anywhere: what follows its carry is always the rest.
      log_printf("API-2516 Carry %d dropped: next datagram begins with a packet\n", carry);
      std::memmove(buf, buf + carry, static_cast<size_t>(n));
      carry = 0;
    }
    int total = carry + n;
    // A relay master passes the tracker's packets on before it walks them itself.
    if (!relayed && same_node(from, link_record().tracker_address)) {
      forward_to_relay(Bytes(buf, static_cast<size_t>(total)));
    }
    tracker_clock_set_arrival(arrival_usec);
    int used = dispatch(t, from, buf, total);
    tracker_clock_set_arrival(-1.0);
    if (used < 0 || used > total) used = total;
    carry = total - used;
    const int max_carry = relayed ? kMaxRelayCarryBytes : kMaxCarryBytes;
    if (carry > max_carry) {
      log_printf("API-2516 Carry %d dropped: more than %d\n", carry, max_carry);
      carry = 0;
    }
    if (carry > 0) {
      std::memmove(buf, buf + used, static_cast<size_t>(carry));
      carry_from = from;
    }
    wake_waiter(t);
  }
  log_printf("API-2516 RX_thread_process Done \n");
  mark_done(t);
}

}  // namespace lvx
