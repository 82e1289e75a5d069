// The TCP-only receive path: the connection to the tracker's TCP port with its greeting, and the
// receive thread that reassembles "LV" frames and hands each one whole to the dispatcher.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "common/byte_io.h"
#include "link/alert.h"
#include "link/link_state.h"
#include "link/log.h"
#include "link/transport.h"
#include "link/transport_record.h"

namespace lvx {

namespace {

std::string dotted(const LVXADDR &a) {
  char buf[20];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", a.addr[0], a.addr[1], a.addr[2], a.addr[3]);
  return buf;
}

// Reads "LV" frames from the TCP stream and dispatches each whole. A corrupt stream or a broken
// connection ends the reader; the link stays up without one.
void tcp_rx_process(Transport &t) {
  if (!t.use_tcp_only) {
    console_printf("displayAPI: xlink_tcp_rx_process: not using TCP, aborting\n");
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
      console_printf("displayAPI: xlink_tcp_rx_process: net_receive %d (%d) >>> aborting\n", n,
                     n < 0 ? -n : 0);
      return;
    }
    int total = held + n;
    int off = 0;
    Bytes all(buf, static_cast<size_t>(total));
    while (total - off >= 4) {
      if (buf[off] != 'L' || buf[off + 1] != 'V') {
        console_printf("displayAPI: xlink_tcp_rx_process: invalid prefix, aborting\n");
        return;
      }
      int dlen = get_u16(all, static_cast<size_t>(off) + 2);
      if (dlen > kMaxFrame) {
        console_printf("displayAPI: xlink_tcp_rx_process: invalid dlen %d, aborting\n", dlen);
        return;
      }
      if (total - off < dlen + 4) break;
      if (dlen > 0) {
        int r = dispatch(t, t.tracker_tcp_address, buf + off + 4, dlen);
        if (r < 0) {
          log_printf("xlink_tcp_rx_process:xlink_rx_process returned error code %d\n", r);
        }
      }
      off += dlen + 4;
      if (off >= kReceiveBufferSize) {
        console_printf("displayAPI: xlink_tcp_rx_process: invalid offset, aborting\n");
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    held = total - off;
    if (held > 0 && off > 0) std::memmove(buf, buf + off, static_cast<size_t>(held));
  }
}

}  // namespace

int tcp_connect(Transport &t) {
  int err = 0;
  platform::Socket s = platform::Socket::tcp(&err);
  if (!s.valid()) {
    log_printf("tcp_connect INVALID_SOCKET line %d\n", __LINE__);
    alert("tcp_connect: INVALID_SOCKET\n");
    return -7;
  }
  if (s.set_blocking(false) != 0) {
    log_printf("tcp_connect failed setting block line %d\n", __LINE__);
    alert("tcp_connect: ioctlsocket failed\n");
    return -8;
  }
  if (s.set_receive_timeout_ms(kReceiveTimeoutMs) != 0) {
    log_printf("tcp_connect setsockopt failed line %d\n", __LINE__);
    alert("tcp_connect: setsockopt timeout failed\n");
    return -1;
  }
  {
    LinkLockGuard lock;
    t.tracker_tcp_address = link_record().tracker_node;
  }
  const uint16_t port = t.options.tracker_tcp_port;
  t.tracker_tcp_address.port[0] = static_cast<uint8_t>(port >> 8);
  t.tracker_tcp_address.port[1] = static_cast<uint8_t>(port & 0xFF);
  log_printf("displayAPI: tcp_connect() to %s:%d (block=%d)\n",
             dotted(t.tracker_tcp_address).c_str(), port, 0);
  err = s.connect_start(address_endpoint(t.tracker_tcp_address));
  if (err == platform::kSockWouldBlock || err == platform::kSockInProgress) {
    err = s.wait_writable(2000000 + 200000) == 1 ? 0 : platform::kSockTimedOut;
  }
  if (err != 0) {
    log_printf("tcp_connect connect timeout line %d\n", __LINE__);
    alert("tcp_connect: connect timeout\n");
    return -10;
  }
  static const char kGreeting[6] = {'H', 'E', 'L', 'O', ' ', '\0'};
  if ((err = s.send_all(kGreeting, sizeof kGreeting)) != 0) {
    console_printf("displayAPI: tcp_connect() HELO failed %d\n", err);
    log_printf("tcp_connect connect failed line %d\n", __LINE__);
    alert("tcp_connect: connect failed\n");
    return -11;
  }
  log_printf("displayAPI: tcp_connect() HELO message sent\n");
  t.tcp = std::move(s);
  return 0;
}

void rx_thread_tcp(Transport &t) {
  log_printf("displayAPI: RX_thread_tcp_process started\n");
  if (!t.stop) tcp_rx_process(t);
  mark_done(t);
}

}  // namespace lvx
