// IPv4 UDP and TCP sockets. Errors are reported as Windows Sockets numbers (10035 would-block,
// 10048 address in use, 10060 time-out, ...) so that the whole library speaks one set of codes;
// errno is mapped to them in one place, socket_error_from_errno().
#pragma once

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lvx::platform {

enum SocketError : int {
  kSockIntr = 10004,
  kSockBadF = 10009,
  kSockAccess = 10013,
  kSockFault = 10014,
  kSockInval = 10022,
  kSockMFile = 10024,
  kSockWouldBlock = 10035,
  kSockInProgress = 10036,
  kSockAlready = 10037,
  kSockNotSock = 10038,
  kSockMsgSize = 10040,
  kSockAfNoSupport = 10047,
  kSockAddrInUse = 10048,
  kSockAddrNotAvail = 10049,
  kSockNetDown = 10050,
  kSockNetUnreach = 10051,
  kSockConnAborted = 10053,
  kSockConnReset = 10054,
  kSockNoBufs = 10055,
  kSockIsConn = 10056,
  kSockNotConn = 10057,
  kSockShutdown = 10058,
  kSockTimedOut = 10060,
  kSockConnRefused = 10061,
  kSockHostUnreach = 10065,
  kSockNotInitialised = 10093,
  kSockOther = 10099,  // anything without a closer match
};

// Maps an errno value to the socket error numbering above.
int socket_error_from_errno(int err);
// The mapped error of the last failed socket call in this thread.
inline int last_socket_error() {
  return socket_error_from_errno(errno);
}
// A short text for a socket error number.
const char *socket_error_text(int code);
// The Linux name of the error behind a socket error number ("EADDRINUSE"); "EIO" for the numbers
// that gather several (kSockOther).
const char *socket_error_name(int code);

// An IPv4 address and port. Both are kept in the order a person reads them: ip[0] is the first
// dotted number and port is a plain number.
struct Endpoint {
  std::array<uint8_t, 4> ip{};
  uint16_t port = 0;
  bool operator==(const Endpoint &) const = default;
  std::string to_string() const;  // "a.b.c.d:port"
};

// An owned socket descriptor. Move-only; closes on destruction.
class Socket {
 public:
  Socket() = default;
  ~Socket();
  Socket(Socket &&other) noexcept;
  Socket &operator=(Socket &&other) noexcept;
  Socket(const Socket &) = delete;
  Socket &operator=(const Socket &) = delete;

  // Creates a socket; on failure the result is invalid and *err holds the error number.
  static Socket udp(int *err);
  static Socket tcp(int *err);

  bool valid() const { return fd_ >= 0; }

  // Each returns 0 or a socket error number.
  int bind(const Endpoint &local);
  int set_blocking(bool blocking);
  int set_broadcast(bool on);
  int set_reuse_address(bool on);
  // Stream sockets: sends each write at once rather than holding small ones back until earlier
  // data is acknowledged (which can delay a small frame by the peer's delayed acknowledgement).
  int set_no_delay(bool on);
  int set_receive_timeout_ms(int ms);
  int set_receive_buffer(int bytes);
  int listen(int backlog);
  // Starts a connect; returns 0 when already connected, kSockWouldBlock/kSockInProgress while it
  // proceeds, or another error.
  int connect_start(const Endpoint &peer);
  // Waits for the socket to become writable (a connect to finish): 1 ready, 0 time-out, or minus
  // an error number. A connect that failed reports its error.
  int wait_writable(int64_t timeout_us);
  // Waits for the socket to become readable: 1 ready, 0 time-out, or minus an error number.
  int wait_readable(int64_t timeout_us);

  // Datagram and stream transfer: the byte count, or minus a socket error number. recv returns 0
  // when the stream peer closed the connection.
  int send_to(const void *data, size_t size, const Endpoint &to);
  int send(const void *data, size_t size);
  // Sends all of it, looping over partial writes (waiting up to 2 s for room). 0 or an error.
  int send_all(const void *data, size_t size);
  int recv_from(void *buf, size_t size, Endpoint *from);
  // As recv_from, and *age_ns receives how long ago the system took the datagram in (its
  // arrival stamp against the clock now), or -1 when the datagram carries no stamp. Stamps are
  // asked for with set_arrival_stamps.
  int recv_from(void *buf, size_t size, Endpoint *from, int64_t *age_ns);
  // Asks the system to stamp each datagram with the moment it arrived. 0 or an error number.
  int set_arrival_stamps(bool on);
  int recv(void *buf, size_t size);

  // Accepts one connection; invalid result on failure with *err set.
  Socket accept(Endpoint *peer, int *err);

  Endpoint local_endpoint() const;
  // Wakes any thread blocked in a receive on this socket, without releasing the descriptor.
  void shutdown();
  void close();
  int fd() const { return fd_; }

 private:
  explicit Socket(int fd) : fd_(fd) {}
  int fd_ = -1;
};

// Resolves a host name to at most `max` IPv4 addresses; empty on failure.
std::vector<std::array<uint8_t, 4>> resolve_ipv4(const std::string &host, size_t max);

}  // namespace lvx::platform
