// The relay slave: its connection to the master, the records it sends, and the reading and
// walking of what the master sends it.
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "common/wire_reader.h"
#include "link/clock.h"
#include "link/dispatcher.h"
#include "link/link_state.h"
#include "link/log.h"
#include "platform/net.h"
#include "platform/process.h"
#include "relay/relay.h"

namespace lvx {

namespace {

constexpr const char kClientName[] = "./client.sock";
// How long a record to the master may wait for room in all.
constexpr int64_t kSendLimitUs = 1'000'000;
constexpr int64_t kCloseSendLimitUs = 100'000;
// How long an opening slave waits to learn that the master turned it away (it closes the
// connection at once when all its slots are taken). Any byte from the master ends the wait.
constexpr int64_t kVerdictWaitUs = 500'000;

static_assert(kMaxRelayCarryBytes >= relay_rec::kData + relay_rec::kMaxPacketBytes,
              "the receive thread must hold an unfinished record until its end comes");

RelaySlave &slave() {
  return relay_state().slave;
}

// Marks the link to the tracker disconnected when it ran through the relay.
void mark_link_lost() {
  LinkRecord &r = link_record();
  int16_t state = r.is_connected.load();
  while (state < 0 && !r.is_connected.compare_exchange_weak(state, 0)) {
  }
  if (state < 0) {
    r.mode_word = 0xFFFF;
    log_printf("%s:%d is_connected=%d the relay master closed the connection\n", __FILE_NAME__,
               __LINE__, r.is_connected.load());
  }
}

// Sends one record with its terminating zero. A record that cannot go whole leaves the master
// reading the stream out of step: the connection is given up (the receive thread then finds it
// closed and marks the link disconnected).
void send_record(const std::string &record) {
  RelaySlave &s = slave();
  log_printf("API-2516 Sending message for slave '%s' \n", record.c_str());
  std::lock_guard lock(s.send_lock);
  if (!s.socket.valid() || s.lost) return;
  size_t sent = 0;
  int err = s.socket.send_all_within(record.c_str(), record.size() + 1, kSendLimitUs, &sent);
  if (err == 0) return;
  log_printf("Client: Error on send() call \n");
  log_printf("API-2516 slave record of %zu bytes not sent (%d): lost\n", record.size() + 1, err);
  if (sent > 0 || err != platform::kSockTimedOut) {
    s.lost = true;
    s.socket.shutdown();
  }
}

// Closes the connection and forgets the slave's identity (send_lock held).
void drop_connection(RelaySlave &s) {
  s.socket.shutdown();
  {
    std::lock_guard lock(s.recv_lock);
    s.socket.close();
  }
  if (!s.own_name.empty()) platform::remove_file(s.own_name);
  s.own_name.clear();
  s.pid = -1;
  s.lost = false;
}

}  // namespace

int relay_open_slave() {
  RelayState &state = relay_state();
  RelaySlave &s = state.slave;
  if (state.ipc_mode == kRelaySlave) relay_close_connection();
  if (state.ipc_mode != kRelayIdle) {
    state.failure = "this program is a relay master already";
    return -1;
  }
  std::lock_guard lock(s.send_lock);
  const uint32_t pid = platform::process_id();
  s.pid = pid;
  s.lost = false;
  s.no_time = clock_base() != QX_CLOCK_BASE_MACHINE_LOCAL;
  if (s.no_time) console_printf("%s", kRelayTimeBaseText);
  char own[sizeof kClientName + 10];
  std::snprintf(own, sizeof own, "%s_%08x", kClientName, pid);
  s.own_name = own;
  platform::remove_file(s.own_name);

  int err = 0;
  platform::LocalSocket socket = platform::connect_local(kRelayServerName, &err);
  if (!socket.valid()) {
    log_printf("Failed to connect '%s' Error:%s %d\n", kRelayServerName,
               platform::socket_error_text(err), err);
    state.failure = "no relay master runs in this working folder";
    drop_connection(s);
    return -1;
  }
  {
    std::lock_guard recv(s.recv_lock);
    s.socket = std::move(socket);
  }
  std::string open = format_open_record(pid);
  size_t sent = 0;
  err = s.socket.send_all_within(open.c_str(), open.size() + 1, kSendLimitUs, &sent);
  if (err != 0) {
    log_printf("Client: Error on send() call \n");
    state.failure = "the relay master does not answer";
    drop_connection(s);
    return -1;
  }
  // A master with every slot taken closes the connection at once. Whatever comes first, its
  // closing or its first record, is left for the receive thread to read.
  const int verdict = s.socket.wait_readable(kVerdictWaitUs) > 0 ? s.socket.peek() : 1;
  if (verdict == 0 || (verdict < 0 && verdict != -platform::kSockWouldBlock)) {
    log_printf("API-2516 the relay master turned this slave away (all slots taken)\n");
    state.failure = "the relay master has ten slaves already";
    drop_connection(s);
    return -1;
  }
  console_printf("Running Slave \n");
  state.ipc_mode = kRelaySlave;
  return 0;
}

void relay_mark_failed() {
  RelayState &state = relay_state();
  if (state.ipc_mode == kRelaySlave) relay_close_connection();
}

void relay_close_connection() {
  RelayState &state = relay_state();
  RelaySlave &s = state.slave;
  {
    std::lock_guard lock(s.send_lock);
    if (s.socket.valid() && !s.lost) {
      std::string close = format_close_record(static_cast<uint32_t>(s.pid.load()));
      log_printf("API-2516 Sending message for slave '%s' \n", close.c_str());
      size_t sent = 0;
      s.socket.send_all_within(close.c_str(), close.size() + 1, kCloseSendLimitUs, &sent);
    }
    if (s.socket.valid() || !s.own_name.empty()) drop_connection(s);
  }
  if (state.ipc_mode == kRelaySlave) state.ipc_mode = kRelayIdle;
}

int relay_send_message(const char *text, double message_time_us) {
  RelaySlave &s = slave();
  if (text == nullptr) return -3;
  const auto pid = static_cast<uint32_t>(s.pid.load());
  std::optional<double> when;
  if (!s.no_time) when = message_time_us;
  std::optional<std::string> record = format_message_record(pid, when, text);
  if (!record) {
    log_printf("API-2516 slave message of %zu characters is longer than %zu: not sent\n",
               std::strlen(text), relay_rec::kMaxText);
    return -3;
  }
  send_record(*record);
  return 0;
}

int relay_read_request(const char *text) {
  RelaySlave &s = slave();
  if (text == nullptr) return 0;
  std::optional<std::string> record =
      format_request_record(static_cast<uint32_t>(s.pid.load()), text);
  if (!record) return -3;
  send_record(*record);
  return 0;
}

int relay_read(uint8_t *buf, int room, int wait_ms) {
  RelaySlave &s = slave();
  std::unique_lock lock(s.recv_lock);
  if (!s.socket.valid()) {
    lock.unlock();
    log_printf("API-2516 SLAVE NO CONNECTION \n");
    return -1;
  }
  if (s.lost) {  // a record to the master went only in part
    lock.unlock();
    mark_link_lost();
    return 0;
  }
  if (s.socket.wait_readable(int64_t{wait_ms} * 1000) <= 0) return 0;
  int n = s.socket.recv_some(buf, static_cast<size_t>(room));
  if (n > 0) {
    WireReader r(Bytes(buf, static_cast<size_t>(n)));
    const std::string_view shown = r.text_at(0, static_cast<size_t>(n));
    log_printf("API-2516 SLAVE got data %d msg='%.*s'\n", n, static_cast<int>(shown.size()),
               shown.data());
    return n;
  }
  if (n == -platform::kSockWouldBlock) return 0;
  // The master closed the connection (it stopped, or dropped this slave) or it failed.
  s.lost = true;
  s.socket.shutdown();
  lock.unlock();
  mark_link_lost();
  return 0;
}

int relay_buffer(const LVXADDR &sender, Bytes buffer) {
  const int len = static_cast<int>(buffer.size());
  size_t pos = 0;
  // Every record moves the walk on, so this ends within the buffer's length.
  for (;;) {
    RelayRecord rec = next_relay_record(buffer, pos);
    switch (rec.kind) {
      case RelayRecordKind::kNone:
        return static_cast<int>(rec.next);
      case RelayRecordKind::kNeedMore:
        log_printf("API-2516 Need more data !!! used=%d %d\n", static_cast<int>(rec.start), len);
        return static_cast<int>(rec.start);
      case RelayRecordKind::kPackets: {
        int used = walk_packets(sender, rec.data);
        if (used < 0) {
          log_printf("API-2516 Failed to process data. \n");
        } else {
          log_printf("API-2516 Processed data %d. used=%d\n", static_cast<int>(rec.data.size()),
                     used);
        }
        break;
      }
      case RelayRecordKind::kSerial:
        if (relay_state().services.set_request_serial != nullptr) {
          relay_state().services.set_request_serial(rec.serial);
        }
        break;
      case RelayRecordKind::kSkipped:
        log_printf("API-2516 relay record at %d skipped: its length or fields are not usable\n",
                   static_cast<int>(rec.start));
        break;
    }
    pos = rec.next;
    log_printf("API-2516 Used data %d total=%d\n", static_cast<int>(pos), len);
  }
}

}  // namespace lvx
