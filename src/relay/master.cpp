// The relay master: the listener with its two threads, the slave slots, forwarding on the
// receive thread, and the slaves' messages and read requests.
#include <cstring>
#include <string>
#include <system_error>

#include "link/clock.h"
#include "link/log.h"
#include "platform/files.h"
#include "platform/net.h"
#include "platform/process.h"
#include "relay/relay.h"

namespace lvx {

namespace {

constexpr int kBacklog = 10;
// Each thread looks at the running value at least this often.
constexpr int64_t kPollUs = 200'000;
// What one read takes from a slave.
constexpr size_t kSlaveReadBytes = 1024;

RelayMaster &master() {
  return relay_state().master;
}

bool running() {
  return master().running.load() > 0;
}

// A slot's socket as a send function for its outbox.
auto sender_for(SlaveSlot &slot) {
  return [&slot](const void *first, size_t first_size, const void *second, size_t second_size) {
    return slot.socket.send_some(first, first_size, second, second_size);
  };
}

// Marks a slave to be dropped by the message thread (slot lock held) and wakes that thread.
void mark_for_drop(SlaveSlot &slot, const char *why) {
  if (slot.drop_why == nullptr) slot.drop_why = why;
  master().wake_messages.wake();
}

// Sends one record to a slave through its outbox (slot lock held).
void send_to_slot(SlaveSlot &slot, Bytes head, Bytes body) {
  if (!slot.socket.valid() || slot.drop_why != nullptr) return;
  const bool had_backlog = slot.outbox.pending();
  OutboxResult r = slot.outbox.offer(head, body, local_ms(), sender_for(slot));
  if (r == OutboxResult::kBehind) {
    mark_for_drop(slot, "too far behind");
  } else if (r == OutboxResult::kBroken) {
    mark_for_drop(slot, "its connection failed");
  } else if (!had_backlog && slot.outbox.pending()) {
    master().wake_messages.wake();  // the message thread sends the backlog as room comes
  }
}

// Frees a slot (message thread, or the stop once the threads have ended).
void close_slot(int index, const char *why) {
  SlaveSlot &slot = master().slots[index];
  std::lock_guard lock(slot.lock);
  if (!slot.socket.valid()) return;
  log_printf("API-2516 slave %d (process %u) dropped: %s; %zu bytes were waiting for it\n", index,
             slot.pid, why, slot.outbox.waiting_bytes());
  slot.socket.shutdown();
  slot.socket.close();
  slot.outbox.clear();
  slot.reader.reset();
  slot.pid = 0;
  slot.drop_why = nullptr;
  slot.occupied = false;
}

// The serial of a read request made for the slave in `requesting_slot` goes to that slave alone,
// before the request leaves (called under the link lock while the serial is drawn).
void announce_serial(uint32_t serial) {
  RelayMaster &m = master();
  const int index = m.requesting_slot;
  if (index < 0 || index >= kSlaveSlots) return;
  std::string record = format_serial_record(m.counter.fetch_add(1), serial);
  SlaveSlot &slot = m.slots[index];
  std::lock_guard lock(slot.lock);
  send_to_slot(slot, Bytes(reinterpret_cast<const uint8_t *>(record.c_str()), record.size() + 1),
               Bytes{});
}

// Handles one record of a slave; false when the slave has closed its connection with it.
bool handle_record(int index, Bytes bytes) {
  RelayMaster &m = master();
  SlaveSlot &slot = m.slots[index];
  std::string copy(reinterpret_cast<const char *>(bytes.data()), bytes.size());
  log_printf("API-2516 Got len=%d used=%d %s\n", static_cast<int>(bytes.size()),
             static_cast<int>(bytes.size() + 1), copy.c_str());
  std::optional<SlaveRecord> rec = parse_slave_record(bytes);
  if (!rec) {
    log_printf("API-2516 slave %d sent a record that is not one: ignored\n", index);
    return true;
  }
  const RelayServices &services = relay_state().services;
  switch (rec->kind) {
    case SlaveRecordKind::kOpen: {
      std::lock_guard lock(slot.lock);
      slot.pid = rec->pid;
      break;
    }
    case SlaveRecordKind::kClose:
      close_slot(index, "it closed its connection");
      return false;
    case SlaveRecordKind::kMessage: {
      const double when = slave_message_time_us(rec->time_ms, rec->time_us, local_double_usec(),
                                                m.ignore_slave_times);
      std::string text(rec->text);
      if (services.route_message != nullptr) services.route_message(text.c_str(), when);
      break;
    }
    case SlaveRecordKind::kRequest: {
      std::string text(rec->text);
      m.requesting_slot = index;
      int16_t r = services.read_request != nullptr
                      ? services.read_request(text.c_str(), announce_serial)
                      : int16_t{LINK_TERMINATED_RESULT};
      m.requesting_slot = -1;
      if (r != 0) log_printf("API-2516 read request for slave %d failed: %d\n", index, r);
      break;
    }
  }
  return true;
}

// Reads what one slave sent and handles its records; frees the slot when the slave has gone.
void read_slave(int index) {
  SlaveSlot &slot = master().slots[index];
  uint8_t buf[kSlaveReadBytes];
  int n = slot.socket.recv_some(buf, sizeof buf);
  if (n == -platform::kSockWouldBlock) return;
  if (n <= 0) {
    close_slot(index, n == 0 ? "it closed its connection without a word" : "its connection failed");
    return;
  }
  // Whatever follows a slave's "LV_CLS:" is not its own to send: the slot may already hold
  // another slave.
  bool open = true;
  slot.reader.feed(Bytes(buf, static_cast<size_t>(n)), [index, &open](Bytes record, bool overlong) {
    if (!open) return;
    if (overlong) {
      log_printf("API-2516 slave %d sent a record longer than %zu bytes: dropped\n", index,
                 relay_rec::kRecordRoom);
    } else {
      open = handle_record(index, record);
    }
  });
  if (!open) slot.reader.reset();
}

// The message thread's loop: waits for what slaves send (and for room in the sockets of slaves
// with a backlog), and drops slaves that left, failed or fell behind.
void process_message_from_slave() {
  RelayMaster &m = master();
  log_printf("API-2516 process_message_from_slave 1\n");
  while (running()) {
    platform::PollEntry entries[1 + kSlaveSlots];
    int slot_of[1 + kSlaveSlots];
    entries[0] = {m.wake_messages.fd(), true, false};
    size_t count = 1;
    for (int i = 0; i < kSlaveSlots; ++i) {
      SlaveSlot &slot = m.slots[i];
      std::lock_guard lock(slot.lock);
      if (!slot.socket.valid()) continue;
      entries[count] = {slot.socket.fd(), true, slot.outbox.pending()};
      slot_of[count++] = i;
    }
    int ready = platform::poll_entries(std::span(entries, count), kPollUs);
    if (ready < 0) {
      console_printf("select() failed: %d\n", -ready);
      delay_ms(1);
    }
    if (entries[0].readable) m.wake_messages.drain();
    const uint32_t now = local_ms();
    for (size_t e = 1; e < count; ++e) {
      const int i = slot_of[e];
      SlaveSlot &slot = m.slots[i];
      if (entries[e].writable) {
        std::lock_guard lock(slot.lock);
        if (slot.socket.valid() &&
            slot.outbox.flush(now, sender_for(slot)) == OutboxResult::kBroken) {
          mark_for_drop(slot, "its connection failed");
        }
      }
      if (entries[e].readable) read_slave(i);
    }
    for (int i = 0; i < kSlaveSlots; ++i) {
      SlaveSlot &slot = m.slots[i];
      const char *why = nullptr;
      {
        std::lock_guard lock(slot.lock);
        if (!slot.socket.valid()) continue;
        why = slot.drop_why;
        if (why == nullptr && slot.outbox.stalled(now)) why = "it took nothing for too long";
      }
      if (why != nullptr) close_slot(i, why);
    }
  }
}

void handle_slave_messages_thread() {
  process_message_from_slave();
  log_printf("API-2516 handle_slave_messages_thread done \n");
}

// Errors of accept that leave the listener usable.
bool passing_accept_error(int err) {
  return err == platform::kSockWouldBlock || err == platform::kSockConnAborted ||
         err == platform::kSockMFile || err == platform::kSockNoBufs || err == platform::kSockIntr;
}

void wait_for_connections() {
  RelayMaster &m = master();
  log_printf("API-2516 socket listening... %d\n", m.listener.fd());
  while (running()) {
    int ready = m.listener.wait_readable(kPollUs);
    if (ready == 0) continue;
    int err = ready < 0 ? -ready : 0;
    platform::LocalSocket s;
    if (ready > 0) s = platform::accept_local(m.listener, &err);
    if (!s.valid()) {
      if (!running()) break;
      if (passing_accept_error(err)) {
        if (err != platform::kSockWouldBlock) delay_ms(10);
        continue;
      }
      log_printf("ACCEPT ERROR: %d\n", err);
      // Later connects are refused at once rather than left waiting for an accept.
      m.listener.shutdown();
      break;
    }
    // The socket file admits its owner only; a connection from another user (root) is refused
    // all the same.
    if (s.peer_user() != platform::current_user()) {
      log_printf("API-2516 connection from another user refused\n");
      continue;
    }
    int free_slot = -1;
    for (int i = 0; i < kSlaveSlots && free_slot < 0; ++i) {
      if (!m.slots[i].occupied) free_slot = i;
    }
    if (free_slot < 0) {
      log_printf("API-2516 all %d slave slots taken: connection refused\n", kSlaveSlots);
      continue;
    }
    log_printf("API-2516 Waiting for client %d\n", free_slot);
    SlaveSlot &slot = m.slots[free_slot];
    {
      std::lock_guard lock(slot.lock);
      slot.socket = std::move(s);
      slot.outbox.clear();
      slot.outbox.set_limits(m.max_backlog, m.stall_ms);
      slot.drop_why = nullptr;
      slot.pid = 0;
      slot.occupied = true;
    }
    m.wake_messages.wake();
  }
  log_printf("API-2516 wait_for_connections done.");
}

// Closes the listener and every slave and removes the server socket (threads ended).
void release_master() {
  RelayMaster &m = master();
  for (int i = 0; i < kSlaveSlots; ++i) close_slot(i, "the master stopped");
  m.listener.close();
  if (!m.socket_path.empty()) {
    platform::remove_socket_file(m.socket_path, m.socket_device, m.socket_inode);
  }
  m.socket_path.clear();
}

}  // namespace

int relay_start_master() {
  RelayState &state = relay_state();
  RelayMaster &m = state.master;
  std::lock_guard guard(m.start_stop);
  if (state.ipc_mode != kRelayIdle) {
    state.failure = "this program is a relay master or slave already";
    return -1;
  }
  m.running = platform::process_id();
  m.ignore_slave_times = false;
  m.requesting_slot = -1;

  platform::LocalListener l = platform::listen_local(kRelayServerName, kBacklog);
  switch (l.failure) {
    case platform::LocalListenFailure::kNone:
      break;
    case platform::LocalListenFailure::kSocket:
      log_printf("SOCKET ERROR: %d\n", l.error);
      break;
    case platform::LocalListenFailure::kBind:
      log_printf("BIND ERROR: %d\n", l.error);
      break;
    case platform::LocalListenFailure::kListen:
      log_printf("LISTEN ERROR: %d\n", l.error);
      break;
    case platform::LocalListenFailure::kInUse:
      log_printf("BIND ERROR: %d\n", l.error);
      console_printf("displayAPI: another program is the relay master in this folder (%s)\n",
                     kRelayServerName);
      break;
  }
  if (l.failure != platform::LocalListenFailure::kNone) {
    state.failure = l.failure == platform::LocalListenFailure::kInUse
                        ? "another program is the relay master in this working folder"
                        : "its socket ./server.sock cannot be made in this working folder";
    m.running = -1;
    return -1;
  }
  m.listener = std::move(l.socket);
  const std::string folder = platform::current_folder();
  m.socket_path = folder.empty() ? std::string(kRelayServerName) : folder + "/server.sock";
  m.socket_device = l.device;
  m.socket_inode = l.inode;
  m.wake_messages.drain();

  try {
    m.connections = std::thread(wait_for_connections);
  } catch (const std::system_error &) {
    log_printf("_beginthread() error\n");
    state.failure = "its threads cannot start";
    m.running = -1;
    release_master();
    return -1;
  }
  log_printf("API-2516 lumavex_start_listener_master 1\n");
  try {
    m.messages = std::thread(handle_slave_messages_thread);
  } catch (const std::system_error &) {
    log_printf("_beginthread() error\n");
  }
  // The mode says "master" once both threads run (rather than after a fixed sleep, which a busy
  // machine can outlast).
  if (m.messages.joinable()) state.ipc_mode = kRelayMaster;
  log_printf("API-2516 lumavex_start_listener_master 2  ipc_mode=%d\n", state.ipc_mode.load());
  if (state.ipc_mode == kRelayIdle) {
    state.failure = "its threads cannot start";
    m.running = -1;
    m.listener.shutdown();
    m.connections.join();
    release_master();
    return -1;
  }
  const int32_t base = clock_base();
  log_printf("API-2516 lumavex_start_listener_master 3 --%d\n", base);
  if (base != QX_CLOCK_BASE_MACHINE_LOCAL) {
    console_printf("%s", kRelayTimeBaseText);
    m.ignore_slave_times = true;
  }
  console_printf("Master Enabled  \n");
  return 0;
}

int relay_stop_master() {
  RelayState &state = relay_state();
  RelayMaster &m = state.master;
  log_printf("API-2516 lumavex_stop_listener_master \n");
  std::lock_guard guard(m.start_stop);
  if (state.ipc_mode != kRelayMaster) return -1;
  m.running = -1;
  log_printf("API-2516 lumavex_stop_listener_master waiting .... \n");
  m.listener.shutdown();
  m.wake_messages.wake();
  if (m.connections.joinable()) m.connections.join();
  if (m.messages.joinable()) m.messages.join();
  release_master();
  log_printf("API-2516 lumavex_stop_listener_master Done waiting .... \n");
  state.ipc_mode = kRelayIdle;
  return -1;
}

void relay_notify_disconnect() {
  if (relay_state().ipc_mode == kRelayMaster) relay_stop_master();
}

void relay_end_at_exit() {
  RelayMaster &m = master();
  if (relay_state().ipc_mode != kRelayMaster) return;
  // No joins and no lock: another thread may be anywhere. The threads see the running value;
  // the process ends them, and closes every slave's connection, as it exits.
  m.running = -1;
  m.listener.shutdown();
  m.wake_messages.wake();
  if (!m.socket_path.empty()) {
    platform::remove_socket_file(m.socket_path, m.socket_device, m.socket_inode);
  }
}

void relay_forward(Bytes buffer) {
  RelayState &state = relay_state();
  if (state.ipc_mode != kRelayMaster || buffer.empty()) return;
  RelayMaster &m = state.master;
  bool any = false;
  for (const SlaveSlot &slot : m.slots) any = any || slot.occupied.load();
  if (!any) return;
  if (buffer.size() > relay_rec::kMaxPacketBytes) {
    log_printf("API-2516 a buffer of %zu bytes is too long to pass on to the slaves\n",
               buffer.size());
    return;
  }
  char head[kPacketHeadSize + 1];
  format_packet_head(m.counter.fetch_add(1), static_cast<uint32_t>(buffer.size()), head);
  const Bytes head_bytes(reinterpret_cast<const uint8_t *>(head), kPacketHeadSize);
  for (SlaveSlot &slot : m.slots) {
    if (!slot.occupied.load()) continue;
    std::lock_guard lock(slot.lock);
    send_to_slot(slot, head_bytes, buffer);
  }
}

int relay_slave_count() {
  int n = 0;
  for (const SlaveSlot &slot : master().slots) n += slot.occupied.load() ? 1 : 0;
  return n;
}

void set_relay_limits_for_testing(size_t max_backlog, uint32_t stall_ms) {
  master().max_backlog = max_backlog > 0 ? max_backlog : SlaveOutbox::kDefaultMaxBacklog;
  master().stall_ms = stall_ms > 0 ? stall_ms : SlaveOutbox::kDefaultStallMs;
}

}  // namespace lvx
