// The TCP-only receive path: the connection to the tracker's TCP port with its greeting, and the
// receive thread that reassembles "LV" frames and hands each one whole to the dispatcher.
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "common/byte_io.h"
#include "link/alert.h"
#include "link/clock.h"
#include "link/dispatcher.h"
#include "link/link_state.h"
#include "link/log.h"
#include "link/tcp_framing.h"
#include "link/transport.h"
#include "link/transport_record.h"
#include "platform/thread_priority.h"

namespace lvx {

namespace {

std::string dotted(const LVXADDR &a) {
  char buf[20];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", a.addr[0], a.addr[1], a.addr[2], a.addr[3]);
  return buf;
}

// Room for several frames, so that one receive can take whatever the stream has gathered.
constexpr size_t kTcpReceiveBufferSize = 16384;
static_assert(kTcpReceiveBufferSize >= 2 * kTcpMaxFrameSize);

// Reads "LV" frames from the TCP stream and dispatches each whole, as soon as it is complete.
// Returns why it ended (nullptr when asked to stop).
//
// Each pass drains the socket and dispatches every complete frame it holds before it blocks
// again, with no pause between frames: at 2000 samples a second the frames come every 500 us,
// and a pause per frame would let the stream run ahead of the application. The socket does not
// block, so the wait for data is a poll of at most the receive time-out, and a stop request is
// noticed within 200 ms.
const char *tcp_rx_process(Transport &t) {
  if (!t.use_tcp_only) {
    console_printf("displayAPI: xlink_tcp_rx_process: not using TCP, aborting\n");
    return "not using TCP";
  }
  uint8_t buf[kTcpReceiveBufferSize];
  size_t held = 0;
  LinkRecord &link = link_record();
  const int64_t tick_us = int64_t{t.silence_limit_ms / kSilentTimeouts} * 1000;
  t.quiet_since_ms = local_ms();
  while (!t.stop) {
    int n = t.tcp.recv(buf + held, sizeof buf - held);
    if (n < 0 && (-n == platform::kSockWouldBlock || -n == platform::kSockTimedOut)) {
      int ready = t.tcp.wait_readable(tick_us);
      // A tracker that keeps its connection open and sends nothing is noticed as over UDP.
      if (ready == 0) watch_silence(t, link, local_ms(), 0);
      if (ready >= 0) continue;
      n = ready;
    }
    if (n <= 0) {
      if (t.stop) return nullptr;
      console_printf("displayAPI: xlink_tcp_rx_process: net_receive %d (%d) >>> aborting\n", n,
                     n < 0 ? -n : 0);
      if (n < 0) return "receive failed";
      return held > 0 ? "the tracker closed the connection within a frame"
                      : "the tracker closed the connection";
    }
    t.lastrecv = local_ms();
    t.quiet_since_ms = t.lastrecv;
    t.status_msgs_cnt = 0;
    if (restore_silenced(t, link)) {
      log_printf("%s:%d is_connected=%d xlink_tcp_rx_process() cancel disconnect\n", __FILE_NAME__,
                 __LINE__, link.is_connected.load());
    }
    if (!t.priority_raised) {
      platform::set_current_thread_priority(t.options.high_priority);
      t.priority_raised = true;
    }
    held += static_cast<size_t>(n);
    size_t off = 0;
    for (;;) {
      TcpFrame f = next_tcp_frame(Bytes(buf + off, held - off));
      if (f.kind == TcpFrameKind::kNeedMore) break;
      if (f.kind == TcpFrameKind::kCorrupt) {
        if (f.fault == TcpFrameFault::kTooLong) {
          console_printf("displayAPI: xlink_tcp_rx_process: invalid dlen %d, aborting\n",
                         static_cast<int>(f.length));
        } else {
          console_printf("displayAPI: xlink_tcp_rx_process: invalid prefix, aborting\n");
        }
        return tcp_frame_fault_text(f.fault);
      }
      if (!f.payload.empty()) {
        // A relay master passes the tracker's packets on before it walks them itself.
        forward_to_relay(f.payload);
        int r = dispatch(t, t.tracker_tcp_address, f.payload.data(),
                         static_cast<int>(f.payload.size()));
        if (r < 0) {
          log_printf("xlink_tcp_rx_process:xlink_rx_process returned error code %d\n", r);
        }
        ++t.datagrams;
      }
      off += f.size;
    }
    held -= off;
    if (held > 0 && off > 0) std::memmove(buf, buf + off, held);
    wake_waiter(t);
  }
  return nullptr;
}

}  // namespace

int tcp_connect(Transport &t) {
  int err = 0;
  platform::Socket s = platform::Socket::tcp(&err);
  if (!s.valid()) {
    log_printf("tcp_connect INVALID_SOCKET\n");
    alert("tcp_connect: INVALID_SOCKET\n");
    t.start_failure = std::string("cannot make the link's TCP socket: ") +
                      platform::socket_error_text(err) + " (" + platform::socket_error_name(err) +
                      ")";
    return -7;
  }
  if (s.set_blocking(false) != 0) {
    log_printf("tcp_connect failed setting block\n");
    alert("tcp_connect: ioctlsocket failed\n");
    t.start_failure = "cannot make the link's TCP socket non-blocking";
    return -8;
  }
  // Frames go out as they are sent: commands and key presses are small and must not wait for the
  // acknowledgement of the one before.
  s.set_no_delay(true);
  if (s.set_receive_timeout_ms(kReceiveTimeoutMs) != 0) {
    log_printf("tcp_connect setsockopt failed\n");
    alert("tcp_connect: setsockopt timeout failed\n");
    t.start_failure = "cannot set the link's receive time-out";
    return -1;
  }
  {
    std::lock_guard guard(t.testing_mutex);
    t.silence_limit_ms = static_cast<uint32_t>(kSilentTimeouts * t.receive_timeout_ms);
  }
  {
    LinkLockGuard lock;
    t.tracker_tcp_address = link_record().tracker_node;
  }
  const uint16_t port = t.options.tracker_tcp_port;
  t.tracker_tcp_address.port[0] = static_cast<uint8_t>(port >> 8);
  t.tracker_tcp_address.port[1] = static_cast<uint8_t>(port & 0xFF);
  const std::string where = dotted(t.tracker_tcp_address) + ":" + std::to_string(port);
  log_printf("displayAPI: tcp_connect() to %s:%d (block=%d)\n",
             dotted(t.tracker_tcp_address).c_str(), port, 0);
  err = s.connect_start(address_endpoint(t.tracker_tcp_address));
  if (err == platform::kSockWouldBlock || err == platform::kSockInProgress) {
    const int w = s.wait_writable(2000000 + 200000);
    err = w == 1 ? 0 : (w < 0 ? -w : platform::kSockTimedOut);
  }
  if (err != 0) {
    log_printf("tcp_connect connect timeout\n");
    alert("tcp_connect: connect timeout\n");
    t.start_failure = err == platform::kSockTimedOut
                          ? "no answer from the tracker's TCP port " + where + " within 2.2 s"
                          : "cannot connect to the tracker's TCP port " + where + ": " +
                                platform::socket_error_text(err) + " (" +
                                platform::socket_error_name(err) + ")";
    return -10;
  }
  static const char kGreeting[6] = {'H', 'E', 'L', 'O', ' ', '\0'};
  if ((err = s.send_all(kGreeting, sizeof kGreeting)) != 0) {
    console_printf("displayAPI: tcp_connect() HELO failed %s\n", platform::socket_error_name(err));
    log_printf("tcp_connect connect failed\n");
    alert("tcp_connect: connect failed\n");
    t.start_failure =
        "the tracker's TCP port " + where + " took the connection but not the greeting";
    return -11;
  }
  log_printf("displayAPI: tcp_connect() HELO message sent\n");
  std::lock_guard lock(t.send_lock);
  t.tcp = std::move(s);
  return 0;
}

void rx_thread_tcp(Transport &t) {
  log_printf("displayAPI: RX_thread_tcp_process started\n");
  const char *why = t.stop ? nullptr : tcp_rx_process(t);
  // Without its reader the link can carry nothing more: rather than report a connection that no
  // longer delivers (every command would then wait out its time-out), mark it disconnected, as
  // silence detection does over UDP. A new open starts the transport again.
  if (why != nullptr && !t.stop) declare_link_broken(t, why);
  log_printf("displayAPI: RX_thread_tcp_process done\n");
  mark_done(t);
}

}  // namespace lvx
