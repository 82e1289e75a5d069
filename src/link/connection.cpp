#include "link/connection.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "link/clock.h"
#include "link/link_state.h"
#include "link/log.h"
#include "link/packets.h"
#include "link/transport.h"

namespace lvx {

int16_t disconnect_within(int wait_ms) {
  LinkRecord &r = link_record();
  if (r.is_connected <= 0) return 0;
  std::array<uint8_t, kConnectPacketSize> packet;
  LVXADDR tracker;
  {
    // Another thread may hold the link lock for good while the process exits: do not wait on it.
    std::unique_lock lock(link_lock_handle(), std::defer_lock);
    if (!lock_within(lock, wait_ms)) return LINK_TERMINATED_RESULT;
    packet = encode_connect_packet(DISCONNECT_REQUEST, r.state.tracker_name, r.state.own_name);
    tracker = r.tracker_address;
  }
  int16_t err =
      xlink_send_within(&tracker, packet.data(), static_cast<int>(packet.size()), wait_ms);
  r.is_connected = 0;
  log_printf("displayAPI: Disconnect at exit (%d)\n", err);
  return err;
}

int16_t send_connect_pkt(uint8_t code, const LVXADDR *dest) {
  LinkRecord &r = link_record();
  std::array<uint8_t, kConnectPacketSize> packet;
  {
    LinkLockGuard lock;
    packet = encode_connect_packet(code, r.state.tracker_name, r.state.own_name);
  }
  int16_t err = xlink_send(dest, packet.data(), static_cast<int>(packet.size()));
  if (err == 0) {
    const char *what = code == DISCONNECT_REQUEST ? "Disconnect" : "Connecting";
    lvx::log_printf("displayAPI: %s\n", what);
    console_printf("displayAPI: %s\n", what);
  } else {
    lvx::log_printf("displayAPI: send_connect_pkt %d failed (%d)\n", code, err);
  }
  return err;
}

namespace {

// Marks the connect in progress for the receive thread, which takes connect replies only from
// the node asked (any node for a broadcast open), and only until the wait ends.
class ConnectWindow {
 public:
  ConnectWindow(const LVXADDR &node, uint8_t code) {
    LinkRecord &r = link_record();
    LinkLockGuard lock;
    r.connect_target = node;
    r.connect_any = code == CONNECT_BROADCAST || is_broadcast(node);
    r.connecting = true;
  }
  ~ConnectWindow() { link_record().connecting = false; }
  ConnectWindow(const ConnectWindow &) = delete;
  ConnectWindow &operator=(const ConnectWindow &) = delete;
};

}  // namespace

int16_t do_connect(const LVXADDR *node, uint8_t code, int seconds) {
  LinkRecord &r = link_record();
  uint32_t start = lvx::local_ms();
  // A new connection replaces one that fell silent: the old tracker's next datagram must not
  // bring the old connection back.
  r.silenced = false;
  r.accepted = false;
  r.busy = false;
  ConnectWindow window(*node, code);
  int16_t err = send_connect_pkt(code, node);
  if (err != 0) return err;
  const uint32_t limit = static_cast<uint32_t>(seconds) * 1000u;
  wait_for_packet();
  for (;;) {
    if (lvx::local_ms() - start > limit) {
      return r.protocol_major == LUMAVEX_LINK_PROTOCOL_MAJOR ? CONNECT_TIMEOUT_RESULT
                                                             : CONNECT_VERSION_MISMATCH_RESULT;
    }
    if (r.busy) return CONNECT_BUSY_RESULT;
    if (r.accepted) break;
    wait_for_packet();
  }
  if (r.protocol_major != LUMAVEX_LINK_PROTOCOL_MAJOR) return CONNECT_VERSION_MISMATCH_RESULT;
  r.is_connected = 1;
  lvx::log_printf("%s:%d is_connected=%d  do_connect()\n", __FILE_NAME__, __LINE__,
                  r.is_connected.load());
  return 0;
}

int16_t do_disconnect() {
  LinkRecord &r = link_record();
  // A link closed while its tracker was silent stays closed when the tracker talks again.
  r.silenced = false;
  int16_t c = r.is_connected;
  if (c == 0) return 0;
  if (c < 0) {
    r.is_connected = 0;
    lvx::log_printf("%s:%d is_connected=%d do_disconnect()\n", __FILE_NAME__, __LINE__,
                    r.is_connected.load());
    return 0;
  }
  LVXADDR tracker;
  {
    LinkLockGuard lock;
    tracker = r.tracker_address;
  }
  int16_t err = send_connect_pkt(DISCONNECT_REQUEST, &tracker);
  if (err != 0) return err;
  r.is_connected = 0;
  lvx::log_printf("%s:%d is_connected=%d do_disconnect()\n", __FILE_NAME__, __LINE__,
                  r.is_connected.load());
  lvx::log_printf("API-2516 do_disconnect done\n");
  return 0;
}

int16_t poll_nodes(int16_t mode) {
  if (!system_open()) return LINK_NOT_OPEN_RESULT;
  LinkRecord &r = link_record();
  LinkLockGuard lock;
  r.state.poll_mode = mode;
  r.state.poll_count = 0;
  LVXADDR dest = mode == 0 ? r.state.tracker_broadcast : r.state.remote_broadcast;
  return send_connect_pkt(mode == 0 ? POLL_TRACKERS : POLL_REMOTES, &dest) == 0 ? 0 : -1;
}

int16_t tracker_version(char *text) {
  LinkRecord &r = link_record();
  if (text != nullptr) {
    LinkLockGuard lock;
    std::snprintf(text, 40, "%s", r.version.text.c_str());
  }
  return static_cast<int16_t>(r.tracker_version.load());
}

int16_t connection_state() {
  if (dummy_mode()) return -1;
  return system_open() ? link_record().is_connected.load() : int16_t{0};
}

uint16_t tracker_mode_word() {
  return system_open() ? link_record().mode_word.load() : uint16_t{0};
}

int16_t poll_response_count() {
  if (!system_open()) return 0;
  LinkLockGuard lock;
  return link_record().state.poll_count;
}

int16_t get_node(int16_t resp, LVXNODE *out) {
  if (!system_open()) return 0;
  if (out == nullptr) return -1;
  LinkLockGuard lock;
  const LinkStateFields &s = link_record().state;
  LVXNODE node{};
  if (resp == 0) {
    node.addr = s.own_address;
    std::memcpy(node.name, s.own_name, sizeof node.name);
  } else if (resp == -1) {
    node.addr = s.tracker_broadcast;
    copy_node_name(node.name, "eye broadcast");
  } else if (resp == -2) {
    node.addr = s.remote_broadcast;
    copy_node_name(node.name, "rem broadcast");
  } else if (resp >= 1 && resp <= s.poll_count) {
    node = s.poll_responses[resp - 1];
  } else {
    return -1;
  }
  *out = node;
  return 0;
}

int16_t node_send(const LVXADDR *node, const void *data, uint16_t size) {
  if (node == nullptr || data == nullptr || size > LUMAVEX_MAX_NODE_MESSAGE) return -1;
  std::vector<uint8_t> packet = encode_node_packet(data, size);
  return xlink_send(node, packet.data(), static_cast<int>(packet.size()));
}

int16_t node_receive(LVXADDR *sender, void *data) {
  LinkLockGuard lock;
  return static_cast<int16_t>(link_record().nodes.take(sender, data));
}

int16_t set_tracker_node(const LVXADDR *node) {
  if (node != nullptr) {
    LinkLockGuard lock;
    link_record().tracker_node = *node;
  }
  return 0;
}

void set_own_name(const char *name) {
  LinkLockGuard lock;
  copy_node_name(link_record().state.own_name, name);
}

int16_t set_quiet_level(int16_t level) {
  std::atomic<int16_t> &quiet = link_system().quiet;
  int16_t previous = quiet.load();
  while (previous >= 0 && !quiet.compare_exchange_weak(previous, level)) {
  }
  return previous;
}

}  // namespace lvx
