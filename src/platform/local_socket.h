// Local stream sockets named by file paths (Unix-domain sockets), for programs on one machine
// that share a link: a listening socket only its owner may reach, connections to it, sends and
// receives that never wait unless asked to, and a poll over several of them. Errors are the
// socket error numbers of platform/net.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace lvx::platform {

// An owned local stream socket. Move-only; closes on destruction. Sockets made here never block
// a call: every wait is a bounded poll.
class LocalSocket {
 public:
  LocalSocket() = default;
  ~LocalSocket();
  LocalSocket(LocalSocket &&other) noexcept;
  LocalSocket &operator=(LocalSocket &&other) noexcept;
  LocalSocket(const LocalSocket &) = delete;
  LocalSocket &operator=(const LocalSocket &) = delete;

  bool valid() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  // Sends what the socket has room for, without waiting: the bytes taken (possibly fewer than
  // asked), or minus an error number (kSockWouldBlock when there is no room at all). A peer that
  // has gone never raises a signal; the send fails instead.
  int send_some(const void *data, size_t size);
  // The same for two pieces that go out back to back.
  int send_some(const void *first, size_t first_size, const void *second, size_t second_size);
  // Sends all of it, waiting for room at most timeout_us in all. 0, or an error number
  // (kSockTimedOut when the time ran out); *sent tells how much went out either way.
  int send_all_within(const void *data, size_t size, int64_t timeout_us, size_t *sent);
  // Receives what is there without waiting: the byte count, 0 when the peer closed, or minus an
  // error number (kSockWouldBlock when nothing waits).
  int recv_some(void *buf, size_t size);
  // Looks at what waits without taking it: 1 data, 0 the peer closed, or minus an error number
  // (kSockWouldBlock when nothing has come yet).
  int peek() const;
  // Waits at most timeout_us until there is something to read (or the peer closed): 1, 0 on
  // time-out, or minus an error number.
  int wait_readable(int64_t timeout_us) const;
  // The user id of the process at the other end, or -1 when it cannot be told.
  int64_t peer_user() const;

  // Wakes any thread waiting on this socket and makes later sends fail, without releasing the
  // descriptor.
  void shutdown();
  void close();

 private:
  friend struct LocalSocketAccess;
  explicit LocalSocket(int fd) : fd_(fd) {}
  int fd_ = -1;
};

enum class LocalListenFailure {
  kNone,
  kSocket,  // no socket could be made
  kBind,    // the name could not be given to it
  kListen,  // it could not listen
  kInUse,   // a live process listens on the name already
};

struct LocalListener {
  LocalSocket socket;
  LocalListenFailure failure = LocalListenFailure::kNone;
  int error = 0;  // socket error number of the failure
  // The file the socket is known by, so that it is removed later only while it is still this one.
  uint64_t device = 0;
  uint64_t inode = 0;
};

// Makes a listening socket known by `path`, which only this user may connect to. The file never
// exists with wider permissions: the socket is bound in a private folder (mode 0700) beside the
// path, restricted to its owner there, and then linked into place. A file left at the path by a
// process that no longer listens is replaced; one that a live process listens on is left alone
// (kInUse). Callers in the same folder are serialised by a lock on the folder, so that two
// processes starting at once cannot both take the name.
LocalListener listen_local(const std::string &path, int backlog);

// Connects to the socket known by `path` without waiting (a listener whose queue is full counts
// as a failure). Invalid on failure, with *err set.
LocalSocket connect_local(const std::string &path, int *err);

// Takes one waiting connection without waiting. Invalid with *err set (kSockWouldBlock when none
// waits).
LocalSocket accept_local(const LocalSocket &listener, int *err);

// Removes the file at `path` when it is still the one (device, inode) names.
void remove_socket_file(const std::string &path, uint64_t device, uint64_t inode);
// Removes the file at `path` if there is one.
void remove_file(const std::string &path);

// One descriptor of a poll: what to wait for, and (filled by poll_entries) what it is ready for.
struct PollEntry {
  int fd = -1;
  bool want_read = false;
  bool want_write = false;
  bool readable = false;  // also when the peer closed or the socket failed
  bool writable = false;
};
// Waits at most timeout_us until any entry is ready: the number ready, 0 on time-out, or minus
// an error number.
int poll_entries(std::span<PollEntry> entries, int64_t timeout_us);

// A descriptor that poll_entries can wait on and any thread can raise.
class Waker {
 public:
  Waker();
  ~Waker();
  Waker(const Waker &) = delete;
  Waker &operator=(const Waker &) = delete;
  int fd() const { return fd_; }
  void wake();
  void drain();

 private:
  int fd_ = -1;
};

// This process's user id.
int64_t current_user();

}  // namespace lvx::platform
