// The process-wide link record: connection state, addresses, node names, poll replies, the header
// echo of the tracker's packets, the tracker's version and the node-message ring.
//
// Written by the receive thread while it holds the link lock (transport.h) and by the application
// threads' open and close calls. Scalars that application threads poll without the lock are
// atomics; everything else is read under the link lock.
#pragma once

#include <atomic>
#include <cstdint>

#include "link/address.h"
#include "link/node_ring.h"
#include "link/version.h"
#include "lumavex_core.h"

namespace lvx {

// The fixed address of the tracker on its private network, used until the application names
// another. Nothing in tests, the demo or tools ever sends to it.
constexpr IPv4 kDefaultTrackerIp{10, 77, 1, 1};

constexpr int kMaxPollResponses = 4;

// The link fields that open_lumavex_system clears.
struct LinkStateFields {
  LVXADDR tracker_address{};  // copy of the connected tracker's address
  char tracker_name[40]{};
  char own_name[40]{};
  LVXADDR own_address{};
  LVXADDR tracker_broadcast{};
  LVXADDR remote_broadcast{};
  int16_t poll_mode = 0;  // 0 polling trackers, 1 polling remotes
  int16_t poll_count = 0;
  LVXNODE poll_responses[kMaxPollResponses]{};
  // Header echo of the tracker's last status or accepted packet.
  uint16_t header_word16 = 0;
  uint16_t header_word14 = 0;
  uint8_t header_byte18 = 0;  // the tracker's current mode code
  uint8_t header_byte19 = 0;
};

struct LinkRecord {
  std::atomic<int16_t> is_connected{0};
  LVXADDR tracker_address{};  // sender filter and destination of commands (link lock)
  LVXADDR tracker_node = make_address(kDefaultTrackerIp, LUMAVEX_TRACKER_PORT);  // link lock
  LinkStateFields state{};                                                       // link lock

  std::atomic<uint16_t> mode_word{0};  // header byte 2; 0xFFFF after a disconnect
  std::atomic<uint8_t> state_flag{0};  // header byte 3
  // Header byte 18, the tracker's mode code (bit 1: playing back), for readers that poll it on
  // every data read without taking the link lock. The echo in `state` keeps the same value.
  std::atomic<uint8_t> mode_code{0};
  std::atomic<int> mode_ready{0};  // set when the state flag falls to zero
  int64_t last_sequence = -1;      // receive thread only

  std::atomic<bool> accepted{false};  // connect reply flags polled by do_connect
  std::atomic<bool> busy{false};
  // The connect in progress, set and cleared by do_connect. While `connecting` is set, connect
  // replies are taken from `connect_target` alone, or from any node when `connect_any` is (a
  // broadcast open, or a connect sent to the broadcast address). The target and the flag are
  // written under the link lock before `connecting` is raised.
  std::atomic<bool> connecting{false};
  bool connect_any = false;  // link lock
  LVXADDR connect_target{};  // link lock
  // Set by the receive thread when a connected tracker fell silent (is_connected was saved and
  // set to 0), cleared when the tracker talks again or the application connects or disconnects.
  // While it is set the tracker still steers the link: nobody else's packets may.
  std::atomic<bool> silenced{false};
  std::atomic<int> protocol_major{LUMAVEX_LINK_PROTOCOL_MAJOR};
  std::atomic<int> protocol_minor{0};

  // Version of the last tracker that answered; kept across link resets.
  TrackerVersion version;  // link lock
  std::atomic<int> tracker_version{0};
  std::atomic<double> version_value{0.0};
  std::atomic<bool> host_v5{false};
  std::atomic<bool> is_gen4{false};
  std::atomic<bool> is_tq{false};
  std::atomic<bool> large_packets{false};

  NodeRing nodes;  // link lock
};

LinkRecord &link_record();

// Process-wide link-level flags. Written by the application thread that opens and closes the
// link; read from any thread.
struct LinkSystem {
  std::atomic<bool> open{false};
  std::atomic<int32_t> connection_opened{0};
  std::atomic<bool> dummy{false};
  std::atomic<bool> broadcast_open{false};
  std::atomic<int16_t> quiet{0};
  std::atomic<int32_t> relay_master{0};
  std::atomic<bool> scripting_host{false};
};

LinkSystem &link_system();
inline bool system_open() {
  return link_system().open;
}
inline bool dummy_mode() {
  return link_system().dummy;
}
inline int16_t quiet_level() {
  return link_system().quiet;
}

// Largest packet the link sends: 1022 for trackers with large packets, else 580.
int max_send_size();
// Longest text with its NUL: 992 for trackers with large packets, else 248.
int max_text_length();

// Clears the link fields (open_lumavex_system). Takes the link lock.
void clear_link_state();

// Stores the version learned from a connect reply and logs it.
void apply_tracker_version(const TrackerVersion &v);

}  // namespace lvx
