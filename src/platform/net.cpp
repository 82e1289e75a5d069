#include "platform/net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace lvx::platform {

int socket_error_from_errno(int err) {
  switch (err) {
    case 0:
      return 0;
    case EINTR:
      return kSockIntr;
    case EBADF:
      return kSockBadF;
    case EACCES:
    case EPERM:
      return kSockAccess;
    case EFAULT:
      return kSockFault;
    case EINVAL:
      return kSockInval;
    case EMFILE:
    case ENFILE:
      return kSockMFile;
#if EAGAIN != EWOULDBLOCK
    case EAGAIN:
#endif
    case EWOULDBLOCK:
      return kSockWouldBlock;
    case EINPROGRESS:
      return kSockInProgress;
    case EALREADY:
      return kSockAlready;
    case ENOTSOCK:
      return kSockNotSock;
    case EMSGSIZE:
      return kSockMsgSize;
    case EAFNOSUPPORT:
      return kSockAfNoSupport;
    case EADDRINUSE:
      return kSockAddrInUse;
    case EADDRNOTAVAIL:
      return kSockAddrNotAvail;
    case ENETDOWN:
      return kSockNetDown;
    case ENETUNREACH:
      return kSockNetUnreach;
    case ECONNABORTED:
      return kSockConnAborted;
    case ECONNRESET:
    case EPIPE:
      return kSockConnReset;
    case ENOBUFS:
    case ENOMEM:
      return kSockNoBufs;
    case EISCONN:
      return kSockIsConn;
    case ENOTCONN:
      return kSockNotConn;
    case ESHUTDOWN:
      return kSockShutdown;
    case ETIMEDOUT:
      return kSockTimedOut;
    case ECONNREFUSED:
      return kSockConnRefused;
    case EHOSTUNREACH:
      return kSockHostUnreach;
    default:
      return kSockOther;
  }
}

const char *socket_error_text(int code) {
  switch (code) {
    case 0:
      return "no error";
    case kSockWouldBlock:
      return "operation would block";
    case kSockAddrInUse:
      return "address already in use";
    case kSockTimedOut:
      return "connection timed out";
    case kSockConnRefused:
      return "connection refused";
    case kSockConnReset:
      return "connection reset by peer";
    case kSockNotConn:
      return "socket is not connected";
    case kSockAccess:
      return "permission denied";
    case kSockMsgSize:
      return "message too long";
    case kSockNetUnreach:
      return "network is unreachable";
    case kSockHostUnreach:
      return "no route to host";
    case kSockInval:
      return "invalid argument";
    case kSockAddrNotAvail:
      return "cannot assign requested address";
    case kSockInProgress:
      return "operation now in progress";
    default:
      return "socket error";
  }
}

const char *socket_error_name(int code) {
  switch (code) {
    case 0:
      return "no error";
    case kSockIntr:
      return "EINTR";
    case kSockBadF:
      return "EBADF";
    case kSockAccess:
      return "EACCES";
    case kSockFault:
      return "EFAULT";
    case kSockInval:
      return "EINVAL";
    case kSockMFile:
      return "EMFILE";
    case kSockWouldBlock:
      return "EAGAIN";
    case kSockInProgress:
      return "EINPROGRESS";
    case kSockAlready:
      return "EALREADY";
    case kSockNotSock:
      return "ENOTSOCK";
    case kSockMsgSize:
      return "EMSGSIZE";
    case kSockAfNoSupport:
      return "EAFNOSUPPORT";
    case kSockAddrInUse:
      return "EADDRINUSE";
    case kSockAddrNotAvail:
      return "EADDRNOTAVAIL";
    case kSockNetDown:
      return "ENETDOWN";
    case kSockNetUnreach:
      return "ENETUNREACH";
    case kSockConnAborted:
      return "ECONNABORTED";
    case kSockConnReset:
      return "ECONNRESET";
    case kSockNoBufs:
      return "ENOBUFS";
    case kSockIsConn:
      return "EISCONN";
    case kSockNotConn:
      return "ENOTCONN";
    case kSockShutdown:
      return "ESHUTDOWN";
    case kSockTimedOut:
      return "ETIMEDOUT";
    case kSockConnRefused:
      return "ECONNREFUSED";
    case kSockHostUnreach:
      return "EHOSTUNREACH";
    default:
      return "EIO";
  }
}

std::string Endpoint::to_string() const {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u:%u", ip[0], ip[1], ip[2], ip[3], port);
  return buf;
}

namespace {

sockaddr_in to_sockaddr(const Endpoint &e) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  std::memcpy(&sa.sin_addr.s_addr, e.ip.data(), 4);
  sa.sin_port = htons(e.port);
  return sa;
}

Endpoint from_sockaddr(const sockaddr_in &sa) {
  Endpoint e;
  std::memcpy(e.ip.data(), &sa.sin_addr.s_addr, 4);
  e.port = ntohs(sa.sin_port);
  return e;
}

int poll_one(int fd, short events, int64_t timeout_us) {
  pollfd p{fd, events, 0};
  int ms = static_cast<int>((timeout_us + 999) / 1000);
  int rc;
  do {
    rc = ::poll(&p, 1, ms);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) return -last_socket_error();
  return rc > 0 ? 1 : 0;
}

}  // namespace

Socket::~Socket() {
  close();
}

Socket::Socket(Socket &&other) noexcept : fd_(other.fd_) {
  other.fd_ = -1;
}

Socket &Socket::operator=(Socket &&other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

Socket Socket::udp(int *err) {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (err) *err = fd < 0 ? last_socket_error() : 0;
  return Socket(fd);
}

Socket Socket::tcp(int *err) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (err) *err = fd < 0 ? last_socket_error() : 0;
  return Socket(fd);
}

int Socket::bind(const Endpoint &local) {
  sockaddr_in sa = to_sockaddr(local);
  return ::bind(fd_, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0 ? 0 : last_socket_error();
}

int Socket::set_blocking(bool blocking) {
  int flags = fcntl(fd_, F_GETFL, 0);
  if (flags < 0) return last_socket_error();
  flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  return fcntl(fd_, F_SETFL, flags) == 0 ? 0 : last_socket_error();
}

int Socket::set_broadcast(bool on) {
  int v = on ? 1 : 0;
  return setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &v, sizeof v) == 0 ? 0 : last_socket_error();
}

int Socket::set_reuse_address(bool on) {
  int v = on ? 1 : 0;
  return setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &v, sizeof v) == 0 ? 0 : last_socket_error();
}

int Socket::set_no_delay(bool on) {
  int v = on ? 1 : 0;
  return setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &v, sizeof v) == 0 ? 0 : last_socket_error();
}

int Socket::set_receive_timeout_ms(int ms) {
  timeval tv{};
  tv.tv_sec = ms / 1000;
  tv.tv_usec = (ms % 1000) * 1000;
  return setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0 ? 0 : last_socket_error();
}

int Socket::set_receive_buffer(int bytes) {
  // A privileged process may go beyond the system's limit (net.core.rmem_max, about 200 KB by
  // default, which drops datagrams in bursts at high sample rates); others get what the limit
  // allows.
  if (setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) == 0) return 0;
  return setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0 ? 0
                                                                           : last_socket_error();
}

int Socket::listen(int backlog) {
  return ::listen(fd_, backlog) == 0 ? 0 : last_socket_error();
}

int Socket::connect_start(const Endpoint &peer) {
  sockaddr_in sa = to_sockaddr(peer);
  if (::connect(fd_, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0) return 0;
  return last_socket_error();
}

int Socket::wait_writable(int64_t timeout_us) {
  int rc = poll_one(fd_, POLLOUT, timeout_us);
  if (rc <= 0) return rc;
  int so_error = 0;
  socklen_t len = sizeof so_error;
  if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &so_error, &len) != 0) return -last_socket_error();
  return so_error == 0 ? 1 : -socket_error_from_errno(so_error);
}

int Socket::wait_readable(int64_t timeout_us) {
  return poll_one(fd_, POLLIN, timeout_us);
}

int Socket::send_to(const void *data, size_t size, const Endpoint &to) {
  sockaddr_in sa = to_sockaddr(to);
  ssize_t n = ::sendto(fd_, data, size, MSG_NOSIGNAL, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
  return n < 0 ? -last_socket_error() : static_cast<int>(n);
}

int Socket::send(const void *data, size_t size) {
  ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL);
  return n < 0 ? -last_socket_error() : static_cast<int>(n);
}

int Socket::send_all(const void *data, size_t size) {
  const auto *p = static_cast<const uint8_t *>(data);
  while (size > 0) {
    ssize_t n = ::send(fd_, p, size, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        int rc = poll_one(fd_, POLLOUT, 2000000);
        if (rc < 0) return -rc;
        if (rc == 0) return kSockTimedOut;
        continue;
      }
      return last_socket_error();
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

int Socket::recv_from(void *buf, size_t size, Endpoint *from) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  ssize_t n;
  do {
    n = ::recvfrom(fd_, buf, size, 0, reinterpret_cast<sockaddr *>(&sa), &len);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    // A receive time-out shows up as EAGAIN on a blocking socket with SO_RCVTIMEO.
    int e = last_socket_error();
    return -(e == kSockWouldBlock ? kSockTimedOut : e);
  }
  if (from) *from = from_sockaddr(sa);
  return static_cast<int>(n);
}

int Socket::set_arrival_stamps(bool on) {
  int v = on ? 1 : 0;
  return setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPNS, &v, sizeof v) == 0 ? 0 : last_socket_error();
}

int Socket::recv_from(void *buf, size_t size, Endpoint *from, int64_t *age_ns) {
  sockaddr_in sa{};
  iovec io{buf, size};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
  msghdr msg{};
  msg.msg_name = &sa;
  msg.msg_namelen = sizeof sa;
  msg.msg_iov = &io;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  ssize_t n;
  do {
    n = ::recvmsg(fd_, &msg, 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    int e = last_socket_error();
    return -(e == kSockWouldBlock ? kSockTimedOut : e);
  }
  if (from) *from = from_sockaddr(sa);
  if (age_ns != nullptr) {
    *age_ns = -1;
    for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
      if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS) continue;
      timespec stamp{};
      std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
      // The stamp is on the wall clock: how long ago it was is what the caller can use.
      timespec now{};
      clock_gettime(CLOCK_REALTIME, &now);
      const int64_t age = (int64_t{now.tv_sec} - stamp.tv_sec) * 1000000000 +
                          (int64_t{now.tv_nsec} - stamp.tv_nsec);
      *age_ns = age < 0 ? 0 : age;
    }
  }
  return static_cast<int>(n);
}

int Socket::recv(void *buf, size_t size) {
  ssize_t n;
  do {
    n = ::recv(fd_, buf, size, 0);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? -last_socket_error() : static_cast<int>(n);
}

Socket Socket::accept(Endpoint *peer, int *err) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  int fd;
  do {
    fd = ::accept4(fd_, reinterpret_cast<sockaddr *>(&sa), &len, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (err) *err = fd < 0 ? last_socket_error() : 0;
  if (fd >= 0 && peer) *peer = from_sockaddr(sa);
  return Socket(fd);
}

Endpoint Socket::local_endpoint() const {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (getsockname(fd_, reinterpret_cast<sockaddr *>(&sa), &len) != 0) return {};
  return from_sockaddr(sa);
}

void Socket::shutdown() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

void Socket::close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

std::vector<std::array<uint8_t, 4>> resolve_ipv4(const std::string &host, size_t max) {
  std::vector<std::array<uint8_t, 4>> out;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo *res = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0) return out;
  for (addrinfo *a = res; a != nullptr && out.size() < max; a = a->ai_next) {
    const auto *sa = reinterpret_cast<const sockaddr_in *>(a->ai_addr);
    std::array<uint8_t, 4> ip{};
    std::memcpy(ip.data(), &sa->sin_addr.s_addr, 4);
    bool seen = false;
    for (const auto &o : out) seen = seen || o == ip;
    if (!seen) out.push_back(ip);
  }
  freeaddrinfo(res);
  return out;
}

}  // namespace lvx::platform
