#include "platform/local_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/net.h"

namespace lvx::platform {

struct LocalSocketAccess {
  static LocalSocket make(int fd) { return LocalSocket(fd); }
};

namespace {

// How long listen_local waits for another process to let go of the folder lock.
constexpr int kFolderLockWaitMs = 1000;
// Tries at taking over a name that a stale file holds (each may race with another process).
constexpr int kTakeOverTries = 3;

int64_t now_us() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

int poll_fd(int fd, short events, int64_t timeout_us) {
  pollfd p{fd, events, 0};
  const int64_t deadline = now_us() + timeout_us;
  for (;;) {
    int64_t left = deadline - now_us();
    int ms = left <= 0 ? 0 : static_cast<int>((left + 999) / 1000);
    int rc = ::poll(&p, 1, ms);
    if (rc >= 0) return rc > 0 ? 1 : 0;
    if (errno != EINTR) return -last_socket_error();
  }
}

// Fills a socket address for a path; false when the path is too long for one.
bool make_address(const std::string &path, sockaddr_un *sa) {
  std::memset(sa, 0, sizeof *sa);
  sa->sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof sa->sun_path) return false;
  std::memcpy(sa->sun_path, path.c_str(), path.size() + 1);
  return true;
}

int new_stream_socket() {
  return ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
}

std::string folder_of(const std::string &path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// An exclusive lock on a folder, held by this object; not held when the folder cannot be opened
// or the lock does not come within kFolderLockWaitMs.
class FolderLock {
 public:
  explicit FolderLock(const std::string &folder) {
    fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) return;
    const int64_t deadline = now_us() + int64_t{kFolderLockWaitMs} * 1000;
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      if ((errno != EWOULDBLOCK && errno != EINTR) || now_us() >= deadline) return;
      timespec pause{0, 1000000};
      ::nanosleep(&pause, nullptr);
    }
    held_ = true;
  }
  ~FolderLock() {
    if (held_) ::flock(fd_, LOCK_UN);
    if (fd_ >= 0) ::close(fd_);
  }
  FolderLock(const FolderLock &) = delete;
  FolderLock &operator=(const FolderLock &) = delete;
  bool held() const { return held_; }

 private:
  int fd_ = -1;
  bool held_ = false;
};

// What listens at a path: 1 a live listener, 0 nobody (a stale file, or none at all), or minus
// an error number when it cannot be told.
int probe_listener(const std::string &path) {
  sockaddr_un sa;
  if (!make_address(path, &sa)) return -kSockInval;
  int fd = new_stream_socket();
  if (fd < 0) return -last_socket_error();
  int rc = ::connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
  int err = rc == 0 ? 0 : errno;
  ::close(fd);
  // A full queue (EAGAIN) still means somebody listens.
  if (rc == 0 || err == EAGAIN || err == EINPROGRESS) return 1;
  if (err == ECONNREFUSED || err == ENOENT) return 0;
  return -socket_error_from_errno(err);
}

}  // namespace

LocalSocket::~LocalSocket() {
  close();
}

LocalSocket::LocalSocket(LocalSocket &&other) noexcept : fd_(other.fd_) {
  other.fd_ = -1;
}

LocalSocket &LocalSocket::operator=(LocalSocket &&other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

int LocalSocket::send_some(const void *data, size_t size) {
  return send_some(data, size, nullptr, 0);
}

int LocalSocket::send_some(const void *first, size_t first_size, const void *second,
                           size_t second_size) {
  iovec parts[2] = {{const_cast<void *>(first), first_size},
                    {const_cast<void *>(second), second_size}};
  msghdr msg{};
  msg.msg_iov = parts;
  msg.msg_iovlen = second_size > 0 ? 2 : 1;
  ssize_t n;
  do {
    n = ::sendmsg(fd_, &msg, MSG_DONTWAIT | MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? -last_socket_error() : static_cast<int>(n);
}

int LocalSocket::send_all_within(const void *data, size_t size, int64_t timeout_us, size_t *sent) {
  const auto *p = static_cast<const uint8_t *>(data);
  const int64_t deadline = now_us() + timeout_us;
  size_t done = 0;
  int err = 0;
  while (done < size) {
    int n = send_some(p + done, size - done);
    if (n >= 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (-n != kSockWouldBlock) {
      err = -n;
      break;
    }
    int64_t left = deadline - now_us();
    int ready = left > 0 ? poll_fd(fd_, POLLOUT, left) : 0;
    if (ready < 0) {
      err = -ready;
      break;
    }
    if (ready == 0) {
      err = kSockTimedOut;
      break;
    }
  }
  if (sent != nullptr) *sent = done;
  return err;
}

int LocalSocket::recv_some(void *buf, size_t size) {
  ssize_t n;
  do {
    n = ::recv(fd_, buf, size, MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? -last_socket_error() : static_cast<int>(n);
}

int LocalSocket::peek() const {
  char c;
  ssize_t n;
  do {
    n = ::recv(fd_, &c, 1, MSG_DONTWAIT | MSG_PEEK);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? -last_socket_error() : static_cast<int>(n);
}

int LocalSocket::wait_readable(int64_t timeout_us) const {
  return poll_fd(fd_, POLLIN, timeout_us);
}

int64_t LocalSocket::peer_user() const {
  ucred cred{};
  socklen_t len = sizeof cred;
  if (::getsockopt(fd_, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return -1;
  return static_cast<int64_t>(cred.uid);
}

void LocalSocket::shutdown() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

void LocalSocket::close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

LocalListener listen_local(const std::string &path, int backlog) {
  LocalListener out;
  sockaddr_un target;
  int fd = new_stream_socket();
  if (fd < 0) {
    out.failure = LocalListenFailure::kSocket;
    out.error = last_socket_error();
    return out;
  }
  LocalSocket socket = LocalSocketAccess::make(fd);
  auto fail = [&out](LocalListenFailure why, int error) {
    out.failure = why;
    out.error = error;
    return std::move(out);
  };
  if (!make_address(path, &target)) return fail(LocalListenFailure::kBind, kSockInval);

  // Bound first in a folder only this user can enter, where nobody else can reach the socket
  // before it is restricted.
  const std::string folder = folder_of(path);
  std::string private_folder = folder + "/.lumavex_relay_XXXXXX";
  std::vector<char> name(private_folder.begin(), private_folder.end());
  name.push_back('\0');
  if (::mkdtemp(name.data()) == nullptr)
    return fail(LocalListenFailure::kBind, last_socket_error());
  private_folder = name.data();
  const std::string inside = private_folder + "/socket";
  auto tidy = [&] {
    ::unlink(inside.c_str());
    ::rmdir(private_folder.c_str());
  };
  sockaddr_un bound;
  if (!make_address(inside, &bound) ||
      ::bind(socket.fd(), reinterpret_cast<sockaddr *>(&bound), sizeof bound) != 0 ||
      ::chmod(inside.c_str(), S_IRUSR | S_IWUSR) != 0) {
    int err = errno != 0 ? last_socket_error() : kSockInval;
    tidy();
    return fail(LocalListenFailure::kBind, err);
  }
  if (::listen(socket.fd(), backlog) != 0) {
    int err = last_socket_error();
    tidy();
    return fail(LocalListenFailure::kListen, err);
  }

  // Into place, under the folder lock: linking fails rather than replacing a name that exists,
  // and a name that exists is replaced only when nobody listens on it.
  FolderLock lock(folder);
  int err = kSockAddrInUse;
  bool placed = false;
  for (int tries = 0; lock.held() && tries < kTakeOverTries && !placed; ++tries) {
    if (::link(inside.c_str(), path.c_str()) == 0) {
      placed = true;
      break;
    }
    if (errno != EEXIST) {
      err = last_socket_error();
      break;
    }
    int live = probe_listener(path);
    if (live != 0) {
      tidy();
      return fail(live > 0 ? LocalListenFailure::kInUse : LocalListenFailure::kBind,
                  live > 0 ? kSockAddrInUse : -live);
    }
    ::unlink(path.c_str());
  }
  tidy();
  if (!placed) return fail(LocalListenFailure::kBind, lock.held() ? err : kSockTimedOut);
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    out.device = static_cast<uint64_t>(st.st_dev);
    out.inode = static_cast<uint64_t>(st.st_ino);
  }
  out.socket = std::move(socket);
  return out;
}

LocalSocket connect_local(const std::string &path, int *err) {
  sockaddr_un sa;
  if (!make_address(path, &sa)) {
    if (err) *err = kSockInval;
    return {};
  }
  int fd = new_stream_socket();
  if (fd < 0) {
    if (err) *err = last_socket_error();
    return {};
  }
  LocalSocket s = LocalSocketAccess::make(fd);
  int rc;
  do {
    rc = ::connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    if (err) *err = last_socket_error();
    return {};
  }
  if (err) *err = 0;
  return s;
}

LocalSocket accept_local(const LocalSocket &listener, int *err) {
  int fd;
  do {
    fd = ::accept4(listener.fd(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (err) *err = fd < 0 ? last_socket_error() : 0;
  return fd < 0 ? LocalSocket() : LocalSocketAccess::make(fd);
}

void remove_socket_file(const std::string &path, uint64_t device, uint64_t inode) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return;
  if (static_cast<uint64_t>(st.st_dev) == device && static_cast<uint64_t>(st.st_ino) == inode) {
    ::unlink(path.c_str());
  }
}

void remove_file(const std::string &path) {
  ::unlink(path.c_str());
}

int poll_entries(std::span<PollEntry> entries, int64_t timeout_us) {
  constexpr size_t kMostEntries = 64;
  pollfd fds[kMostEntries];
  const size_t n = entries.size() < kMostEntries ? entries.size() : kMostEntries;
  for (size_t i = 0; i < n; ++i) {
    short events = static_cast<short>((entries[i].want_read ? POLLIN : 0) |
                                      (entries[i].want_write ? POLLOUT : 0));
    fds[i] = pollfd{entries[i].fd, events, 0};
  }
  const int ms = timeout_us <= 0 ? 0 : static_cast<int>((timeout_us + 999) / 1000);
  int rc;
  do {
    rc = ::poll(fds, n, ms);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) return -last_socket_error();
  for (size_t i = 0; i < n; ++i) {
    entries[i].readable = (fds[i].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
    entries[i].writable = (fds[i].revents & POLLOUT) != 0;
  }
  return rc;
}

Waker::Waker() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

Waker::~Waker() {
  if (fd_ >= 0) ::close(fd_);
}

void Waker::wake() {
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(fd_, &one, sizeof one);
}

void Waker::drain() {
  uint64_t count;
  [[maybe_unused]] ssize_t n = ::read(fd_, &count, sizeof count);
}

int64_t current_user() {
  return static_cast<int64_t>(::getuid());
}

}  // namespace lvx::platform
