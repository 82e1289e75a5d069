// The relay's process-wide record: the relay mode, the master's listener and slave slots, the
// slave's connection to its master, and the services the owner registered from the layers above.
// The owner keeps the one instance (relay_state(), defined in src/library/).
//
// Who touches what:
//  - ipc_mode and the master's running value are atomics, read from any thread.
//  - A slot's socket, outbox, pid and drop mark are changed under the slot's lock. Its socket
//    is installed by the connection thread into a free slot and closed only by the message
//    thread (or by the stop, once both threads have ended), so that the message thread's poll
//    never meets a descriptor being closed. The receive thread forwards to occupied slots under
//    each slot's lock, never waiting on the socket; a slave it finds broken or too far behind
//    is marked and dropped by the message thread. The lock is taken under the link lock (the
//    read-request serial for a slave goes out while its serial is drawn); nothing takes the
//    link lock while holding it.
//  - The slave's socket is changed only under both of its locks: send_lock (records to the
//    master, from application threads) and recv_lock (the receive thread's read).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "platform/local_socket.h"
#include "relay/relay_framing.h"
#include "relay/slave_outbox.h"

namespace lvx {

constexpr int kSlaveSlots = 10;

// Relay mode (ipc_mode).
constexpr int32_t kRelayIdle = -1;
constexpr int32_t kRelayMaster = 0;
constexpr int32_t kRelaySlave = 1;

struct SlaveSlot {
  std::mutex lock;
  platform::LocalSocket socket;  // invalid while the slot is free
  SlaveOutbox outbox;
  uint32_t pid = 0;                   // from its "LV_OPN:"
  const char *drop_why = nullptr;     // set when the slave is to be dropped
  std::atomic<bool> occupied{false};  // read by the receive thread before it takes the lock
  SlaveRecordReader reader;           // the message thread's alone
};

// Called with a read request's serial while it is drawn, before the request leaves.
using RelaySerialAnnounce = void (*)(uint32_t serial);

// What the relay calls in the layers above it, registered by the owner before any relay thread
// runs.
struct RelayServices {
  // Routes a message with its time (local microseconds) as the application's messages go.
  int16_t (*route_message)(const char *text, double message_time_us) = nullptr;
  // Issues a read request to the tracker, calling announce with its serial as it is drawn.
  int16_t (*read_request)(const char *text, RelaySerialAnnounce announce) = nullptr;
  // Makes a serial the one read-request replies are matched against.
  void (*set_request_serial)(uint32_t serial) = nullptr;
};

struct RelayMaster {
  std::atomic<int64_t> running{-1};  // the process id while running, -1 once told to stop
  platform::LocalSocket listener;    // written only while neither thread runs
  std::string socket_path;           // the server socket's full path, for its removal
  uint64_t socket_device = 0;
  uint64_t socket_inode = 0;
  SlaveSlot slots[kSlaveSlots];
  std::atomic<bool> ignore_slave_times{false};
  std::atomic<uint32_t> counter{0};  // one value per LV_PKT or LV_SER record built
  std::thread connections;           // wait_for_connections
  std::thread messages;              // handle_slave_messages_thread
  platform::Waker wake_messages;     // a new slave, a slave to drop, a backlog, a stop
  int requesting_slot = -1;          // the message thread's: whose read request is being made
  std::mutex start_stop;             // serialises starting and stopping
  // The outbox limits for new slaves (tests shorten them).
  std::atomic<size_t> max_backlog{SlaveOutbox::kDefaultMaxBacklog};
  std::atomic<uint32_t> stall_ms{SlaveOutbox::kDefaultStallMs};
};

struct RelaySlave {
  std::mutex send_lock;
  std::mutex recv_lock;
  platform::LocalSocket socket;   // the connection to the master
  std::atomic<bool> lost{false};  // the master closed the connection, or a record went in part
  std::atomic<int64_t> pid{-1};
  std::string own_name;  // "./client.sock_<pid>", removed but never bound (send_lock)
  std::atomic<bool> no_time{false};
};

struct RelayState {
  std::atomic<int32_t> ipc_mode{kRelayIdle};
  // Why the last master start or slave open failed, for the user's alert.
  std::atomic<const char *> failure{""};
  RelayMaster master;
  RelaySlave slave;
  RelayServices services;
};

// The one instance, kept by the owner.
RelayState &relay_state();

}  // namespace lvx
