#include "link/connection.h"

#include <cstdio>
#include <cstring>

#include "control/relay.h"
#include "link/clock.h"
#include "link/lifecycle.h"
#include "link/link_state.h"
#include "link/packets.h"
#include "link/transport.h"

namespace lvx {

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
    add_to_lumavex_log("displayAPI: %s\n", what);
    std::printf("displayAPI: %s\n", what);
  } else {
    add_to_lumavex_log("displayAPI: send_connect_pkt %d failed (%d)\n", code, err);
  }
  return err;
}

int16_t do_connect(const LVXADDR *node, uint8_t code, int seconds) {
  LinkRecord &r = link_record();
  uint32_t start = current_time();
  r.accepted = false;
  r.busy = false;
  int16_t err = send_connect_pkt(code, node);
  if (err != 0) return err;
  const uint32_t limit = static_cast<uint32_t>(seconds) * 1000u;
  wait_for_packet();
  for (;;) {
    if (current_time() - start > limit) {
      return r.protocol_major == LUMAVEX_LINK_PROTOCOL_MAJOR ? CONNECT_TIMEOUT_RESULT
                                                             : CONNECT_VERSION_MISMATCH_RESULT;
    }
    if (r.busy) return CONNECT_BUSY_RESULT;
    if (r.accepted) break;
    wait_for_packet();
  }
  if (r.protocol_major != LUMAVEX_LINK_PROTOCOL_MAJOR) return CONNECT_VERSION_MISMATCH_RESULT;
  r.is_connected = 1;
  add_to_lumavex_log("%s:%d is_connected=%d  do_connect()\n", __FILE_NAME__, __LINE__,
                     r.is_connected.load());
  return 0;
}

int16_t do_disconnect() {
  LinkRecord &r = link_record();
  int16_t c = r.is_connected;
  if (c == 0) return 0;
  if (c < 0) {
    relay_close_connection();
    r.is_connected = 0;
    add_to_lumavex_log("%s:%d is_connected=%d do_disconnect()\n", __FILE_NAME__, __LINE__,
                       r.is_connected.load());
    return 0;
  }
  relay_notify_disconnect();
  LVXADDR tracker;
  {
    LinkLockGuard lock;
    tracker = r.tracker_address;
  }
  int16_t err = send_connect_pkt(DISCONNECT_REQUEST, &tracker);
  if (err != 0) return err;
  r.is_connected = 0;
  add_to_lumavex_log("%s:%d is_connected=%d do_disconnect()\n", __FILE_NAME__, __LINE__,
                     r.is_connected.load());
  add_to_lumavex_log("API-2516 do_disconnect done\n");
  return 0;
}

namespace {

int16_t poll(int16_t mode, uint8_t code) {
  if (!system_open()) return LINK_NOT_OPEN_RESULT;
  LinkRecord &r = link_record();
  LinkLockGuard lock;
  r.state.poll_mode = mode;
  r.state.poll_count = 0;
  LVXADDR dest = mode == 0 ? r.state.tracker_broadcast : r.state.remote_broadcast;
  return send_connect_pkt(code, &dest) == 0 ? 0 : -1;
}

}  // namespace

}  // namespace lvx

using lvx::link_record;

extern "C" {

int16_t lumavex_get_tracker_version(char *text) {
  lvx::LinkRecord &r = link_record();
  if (text != nullptr) {
    lvx::LinkLockGuard lock;
    std::snprintf(text, 40, "%s", r.version.text.c_str());
  }
  return static_cast<int16_t>(r.tracker_version.load());
}

int16_t lumavex_is_connected(void) {
  if (lvx::dummy_mode()) return -1;
  return lvx::system_open() ? link_record().is_connected.load() : int16_t{0};
}

uint16_t lumavex_tracker_mode(void) {
  return lvx::system_open() ? link_record().mode_word.load() : uint16_t{0};
}

int16_t lumavex_poll_trackers(void) {
  return lvx::poll(0, lvx::POLL_TRACKERS);
}

int16_t lumavex_poll_remotes(void) {
  return lvx::poll(1, lvx::POLL_REMOTES);
}

int16_t lumavex_poll_responses(void) {
  if (!lvx::system_open()) return 0;
  lvx::LinkLockGuard lock;
  return link_record().state.poll_count;
}

int16_t lumavex_get_node(int16_t resp, LVXNODE *out) {
  if (!lvx::system_open()) return 0;
  if (out == nullptr) return -1;
  lvx::LinkLockGuard lock;
  const lvx::LinkStateFields &s = link_record().state;
  LVXNODE node{};
  if (resp == 0) {
    node.addr = s.own_address;
    std::memcpy(node.name, s.own_name, sizeof node.name);
  } else if (resp == -1) {
    node.addr = s.tracker_broadcast;
    lvx::copy_node_name(node.name, "eye broadcast");
  } else if (resp == -2) {
    node.addr = s.remote_broadcast;
    lvx::copy_node_name(node.name, "rem broadcast");
  } else if (resp >= 1 && resp <= s.poll_count) {
    node = s.poll_responses[resp - 1];
  } else {
    return -1;
  }
  *out = node;
  return 0;
}

int16_t lumavex_node_send(const LVXADDR *node, const void *data, uint16_t size) {
  if (node == nullptr || data == nullptr || size > LUMAVEX_MAX_NODE_MESSAGE) return -1;
  std::vector<uint8_t> packet = lvx::encode_node_packet(data, size);
  return lvx::xlink_send(node, packet.data(), static_cast<int>(packet.size()));
}

int16_t lumavex_node_receive(LVXADDR *sender, void *data) {
  lvx::LinkLockGuard lock;
  return static_cast<int16_t>(link_record().nodes.take(sender, data));
}

}  // extern "C"
