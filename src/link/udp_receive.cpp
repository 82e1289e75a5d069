// The UDP receive path: the link socket, and the receive thread that reads datagrams, watches
// for silence and hands each datagram to the dispatcher.
#include <cstdio>
#include <cstring>

#include "link/clock.h"
#include "link/dispatcher.h"
#include "link/link_state.h"
#include "link/log.h"
#include "link/transport.h"
#include "link/transport_record.h"
#include "platform/thread_priority.h"

namespace lvx {

namespace {

constexpr int kSilentTimeouts = 100;  // 100 receive time-outs: 20 s without a datagram
constexpr int kUdpBufferBytes = 4 * 1024 * 1024;

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
      log_printf("%s:%d is_connected=%d net_receive() recover\n", __FILE_NAME__, __LINE__,
                 r.is_connected.load());
      log_printf("displayAPI: connected 0->1\n");
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
        log_printf(
            "%s:%d is_connected=%d net_receive() fail. status_msgs_cnt=%d r=%d lastrecv=%d "
            "current_time=%d \n",
            __FILE_NAME__, __LINE__, r.is_connected.load(), t.status_msgs_cnt, n,
            static_cast<int>(t.lastrecv.load()), static_cast<int>(local_ms()));
      }
    }
    return 0;
  }
  if (n == 0) return 0;

  t.lastrecv = local_ms();
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
    log_printf(
        "%s:%d is_connected=%d net_receive() cancel disconnect .. status_msgs_cnt=%d r=%d \n",
        __FILE_NAME__, __LINE__, r.is_connected.load(), t.status_msgs_cnt, n);
  }
  return n;
}

}  // namespace

int open_udp_socket(Transport &t) {
  int err = 0;
  platform::Socket s = platform::Socket::udp(&err);
  if (!s.valid()) {
    console_printf("displayApi: Socket open failed: %d %s \n", err,
                   platform::socket_error_text(err));
    return -1;
  }
  if ((err = s.set_blocking(true)) != 0) {
    console_printf("displayApi: IOCTL failed setting blocking state: %d : %s %d ", err,
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
    console_printf("displayApi: Socket BIND failed: %d %s :%d port %d\n", err,
                   platform::socket_error_text(err), __LINE__, port);
    return -1;
  }
  if ((err = s.set_broadcast(true)) != 0) {
    console_printf("displayApi: Socket Broadcast enable failed: %d %s \n", err,
                   platform::socket_error_text(err));
    return -1;
  }
  int timeout_ms;
  {
    std::lock_guard guard(t.testing_mutex);
    timeout_ms = t.receive_timeout_ms;
  }
  if ((err = s.set_receive_timeout_ms(timeout_ms)) != 0) {
    console_printf("displayApi: Socket RCTTIMEO enable failed: %d %s \n", err,
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

void rx_thread_udp(Transport &t) {
  t.packet_event.reset();
  t.event_exists = true;
  log_printf("API-2516 RX_thread_process started \n");
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
  log_printf("API-2516 RX_thread_process Done \n");
  mark_done(t);
}

}  // namespace lvx
