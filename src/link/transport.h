// The network transport: one UDP socket (or one TCP connection in TCP-only mode), the receive
// thread that feeds every received byte to the dispatcher, the link lock and the send lock, and
// the packet event that application threads wait on between polls.
//
// Process-wide state lives in one record (transport_record.h), shared by this interface
// (transport.cpp) and the two receive paths (udp_receive.cpp, tcp_receive.cpp). The receive
// thread owns the socket for reading; every send from any thread passes the send lock. The
// dispatcher runs on the receive thread with the link lock held, and application threads take the
// same lock to read what it files.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/address.h"
#include "link/user_calls.h"
#include "lumavex_core.h"

namespace lvx {

// The link lock (re-entrant). A library lock: calls into the application raised under it are made
// once the thread has released it (user_calls.h); the receive thread's dispatch makes them after
// each datagram.
void link_lock();
void link_unlock();
// The lock itself, for the few places that must not wait on it for long (process exit).
LibraryMutex<std::recursive_mutex> &link_lock_handle();

// Takes a lock held by the caller's unique_lock within wait_ms: at once, or by trying again every
// millisecond until the time is up. Only for the exit paths, where a millisecond's lateness does
// not matter. (Not try_lock_for: it takes the lock through pthread_mutex_clocklock, which the
// thread sanitizer does not see, so that it then reports the unlock as one of a lock not held.)
template <typename Mutex>
bool lock_within(std::unique_lock<Mutex> &lock, int wait_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  while (!lock.try_lock()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

class LinkLockGuard {
 public:
  LinkLockGuard() { link_lock(); }
  ~LinkLockGuard() { link_unlock(); }
  LinkLockGuard(const LinkLockGuard &) = delete;
  LinkLockGuard &operator=(const LinkLockGuard &) = delete;
};

// The transport's process-wide settings (ports and receive-thread priorities). They persist
// across restarts of the transport.
TransportOptions &transport_options();
bool transport_tcp_only();

// Starts the transport: local addresses, socket or TCP connection, receive thread. 0 or -1.
int init_net();
// Why the last init_net failed, in Linux terms a user can act on ("no free local UDP port: 4000
// to 4010 are all in use (EADDRINUSE)"); empty after a start that worked.
std::string transport_start_failure();
// Stops the receive thread and closes the transport. Does nothing unless it runs.
void shutdown_net();
// As shutdown_net, waiting at most wait_ms for the receive thread; a thread that has not ended by
// then (or the calling thread itself, when it is the receive thread) is left to end on its own
// with its socket kept open. True when the thread ended in time.
bool stop_net(int wait_ms);
bool network_running();
// True when the transport runs but its TCP link has broken (the stream ended or was corrupt, or a
// frame could not be sent whole): it carries nothing more until it is stopped and started again.
bool transport_broken();

// Sends one packet. 0, -100 when the packet is larger than max_send_size(), -1 when a broadcast
// has no local address, or a socket error number. Over TCP a packet goes whole or not at all: a
// frame that cannot go whole within 2 s declares the link broken (see transport_broken()).
int16_t xlink_send(const LVXADDR *dest, const void *packet, int size);

// As xlink_send, but gives up with -100 when the send lock cannot be had within wait_ms (used at
// process exit, where another thread may hold it for good); a TCP frame then gets at most
// wait_ms to go whole.
int16_t xlink_send_within(const LVXADDR *dest, const void *packet, int size, int wait_ms);

// Blocks at most 10 ms until the receive thread has dispatched data (returns at once when the
// transport does not run, since there is then no packet event).
void wait_for_packet();
// As wait_for_packet, but announces the wait before asking `ready` and returns at once when it
// answers true: a packet handled between the caller's last check and the wait then still wakes
// it, instead of leaving it asleep for the whole 10 ms.
void wait_for_packet_unless(const std::function<bool()> &ready);

// This machine's IPv4 addresses found when the transport started (at most 16).
std::vector<IPv4> local_addresses();
// The UDP port the socket is bound to (0 when none).
uint16_t bound_port();
// Datagrams (TCP frames in TCP-only mode) received and dispatched since the transport started.
uint32_t received_datagrams();
// Local time (ms) of the last datagram.
uint32_t last_receive_time();
// CPU time in seconds the running receive thread has used since it started; negative when the
// transport does not run. Call it from the thread that opens and closes the link.
double receive_thread_cpu_seconds();

// The serial of the last status packet, -1 after a link reset. Written by the status decoder,
// watched by the receive thread's silence recovery.
void set_last_status_serial(int64_t serial);
int64_t last_status_serial();

// Parses a dotted address into a node address with the tracker's port (UDP, or TCP in TCP-only
// mode), or this node's port when `remote`. False for bad text.
bool address_from_text(const char *text, bool remote, LVXADDR *addr);

// Chooses the TCP-only transport; false once the network has started in this process, which
// makes the choice permanent.
bool set_tcp_only();

// Test-only settings, so that tests never touch real interfaces or wait for minutes.
// Replaces the host's address list (applied at the next transport start); nullopt restores it.
void set_local_addresses_for_testing(std::optional<std::vector<IPv4>> addresses);
// Replaces the 200 ms receive time-out (applied at the next transport start); 0 restores it.
void set_receive_timeout_for_testing(int ms);

}  // namespace lvx
