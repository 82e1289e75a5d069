#include "link/dispatcher.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "common/byte_io.h"
#include "control/keys.h"
#include "control/relay.h"
#include "control/status.h"
#include "data/data_stream.h"
#include "display/camera_image.h"
#include "files/link_transfer.h"
#include "link/connection.h"
#include "link/link_state.h"
#include "link/packets.h"
#include "link/tracker_clock.h"
#include "link/transport.h"

namespace lvx {

namespace {

constexpr int kMaxRest = 1000;
constexpr int kUnknownTypeUsed = 21;
constexpr int kNodeOverhead = 21;

bool in_user_menu(unsigned mode) {
  return mode >= 5 && mode <= 8;
}

// Takes the header echo of a status or accepted tracker packet: the extra header fields, the
// mode word, the state flag with its mode-ready latch, and the tracker time.
void take_header_echo(const PacketHeader &h) {
  LinkRecord &r = link_record();
  r.state.header_word16 = h.word16;
  r.state.header_word14 = h.word14;
  r.state.header_byte18 = h.byte18;
  r.mode_code = h.byte18;
  r.state.header_byte19 = h.byte19;
  if (in_user_menu(h.mode) && !in_user_menu(r.mode_word)) clear_user_menu_fields();
  uint8_t old_state = r.state_flag;
  if (old_state != 0 && h.state == 0) r.mode_ready = 1;
  if (old_state == 0 && h.state != 0) r.mode_ready = 0;
  r.state_flag = h.state;
  r.mode_word = h.mode;
  tracker_clock_update(h.tracker_usec());
}

bool from_tracker(const LVXADDR &sender) {
  LinkRecord &r = link_record();
  int16_t c = r.is_connected;
  return c < 0 || (c > 0 && same_node(sender, r.tracker_address));
}

void handle_connect_packet(const LVXADDR &sender, Bytes p, const PacketHeader &h) {
  LinkRecord &r = link_record();
  if (get_text(p, conn::kIdentity, conn::kIdentityText.size()) != conn::kIdentityText) return;
  tracker_clock_update(h.tracker_usec());
  uint8_t code = get_u8(p, conn::kCode);
  switch (code) {
    case CONNECT_ACK: {
      r.tracker_address = sender;
      r.state.tracker_address = sender;
      r.protocol_major = get_u8(p, conn::kMajor);
      r.protocol_minor = get_u8(p, conn::kMinor);
      std::string name(get_text(p, conn::kTrackerName, 40));
      copy_node_name(r.state.tracker_name, name.c_str());
      int generation = generation_from_model_char(static_cast<char>(get_u8(p, conn::kModelChar)));
      std::string text = generation == 1 ? std::string("LUMAVEX K")
                                         : std::string(get_text(p, conn::kVersionText, 30 - 12));
      apply_tracker_version(detect_version(generation, text));
      // Set last: do_connect reads the reply's fields once it sees the flag.
      r.accepted = true;
      return;
    }
    case POLL_REMOTES:
      send_connect_pkt(REMOTE_POLL_REPLY, &sender);
      return;
    case DISCONNECT_ACK:
      if (r.is_connected < 0 || (r.is_connected > 0 && same_node(sender, r.tracker_address))) {
        r.is_connected = 0;
        r.mode_word = 0xFFFF;
        add_to_lumavex_log(
            "%s:%d is_connected=%d xlink_rx_process(). Got p->code == "
            "DISCONNECT_ACK\n",
            __FILE_NAME__, __LINE__, r.is_connected.load());
        return;
      }
      break;
    case CONNECT_BUSY:
      r.is_connected = 0;
      r.busy = true;
      add_to_lumavex_log("%s:%d is_connected=%d xlink_rx_process(). Got p->code == CONNECT_BUSY\n",
                         __FILE_NAME__, __LINE__, r.is_connected.load());
      return;
    case REMOTE_POLL_REPLY:
    case TRACKER_POLL_REPLY: {
      bool remote = code == REMOTE_POLL_REPLY;
      LinkStateFields &s = r.state;
      if (s.poll_mode == (remote ? 1 : 0) && s.poll_count < kMaxPollResponses) {
        LVXNODE &slot = s.poll_responses[s.poll_count];
        slot.addr = sender;
        std::string name(get_text(p, remote ? conn::kRemoteName : conn::kTrackerName, 40));
        copy_node_name(slot.name, name.c_str());
        ++s.poll_count;
        return;
      }
      break;
    }
    default:
      break;
  }
  add_to_lumavex_log("Uknown code %d \n", code);
}

int handle_node_packet(const LVXADDR &sender, Bytes p) {
  int n = get_u16(p, 2);
  if (n > 0 && n <= NodeRing::kMaxPayload && p.size() >= static_cast<size_t>(n) + 4) {
    link_record().nodes.store(sender, p.data() + 4, n);
  }
  return n + kNodeOverhead;
}

// Walks packets from the start of buf; returns the bytes used.
int walk_packets(const LVXADDR &sender, const uint8_t *buf, int len) {
  int off = 0;
  int rest = len;
  while (rest >= static_cast<int>(kHeaderSize)) {
    uint8_t hlen = buf[off + 1];
    if (hlen != kHeaderSize) {
      add_to_lumavex_log(
          "API-2516 ERROR Invalid data packet type = %d len = %d sizeof(PHDR) =%d hdrsize = %d "
          "used=%d\n",
          buf[off], len, static_cast<int>(kHeaderSize), hlen, off);
      return len;
    }
    int r = xlink_rx_process(sender, buf + off, rest);
    if (r == -1) return off;
    if (r == 0) return len;
    off += r;
    rest -= r;
  }
  if (rest < 0) {
    add_to_lumavex_log("API-2516 Rem negative %d \n", rest);
    return len;
  }
  if (rest > kMaxRest) {
    add_to_lumavex_log("API-2516  Rem Too big %d \n", rest);
    return len;
  }
  if (rest > 0) add_to_lumavex_log("API-2516 Rem %d \n", rest);
  return off;
}

// Reads n hex digits; false when any is not a hex digit.
bool read_hex(const uint8_t *p, int n, uint32_t *out) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) {
    char c = static_cast<char>(p[i]);
    int d = (c >= '0' && c <= '9')   ? c - '0'
            : (c >= 'a' && c <= 'f') ? c - 'a' + 10
            : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                     : -1;
    if (d < 0) return false;
    v = v * 16 + static_cast<uint32_t>(d);
  }
  *out = v;
  return true;
}

// Buffers from the local relay hold text-framed records: "LV_PKT:" with packets to walk, and
// "LV_SER:" with the serial number command results are matched against.
int walk_relay_records(const LVXADDR &sender, const uint8_t *buf, int len) {
  constexpr int kDataStart = 25;
  std::string_view all(reinterpret_cast<const char *>(buf), static_cast<size_t>(len));
  int used = 0;
  while (used < len) {
    size_t found = all.find("LV_PKT:", static_cast<size_t>(used));
    bool is_packet = found != std::string_view::npos;
    if (!is_packet) found = all.find("LV_SER:", static_cast<size_t>(used));
    if (found == std::string_view::npos) return len;
    int rec = static_cast<int>(found);
    if (rec + kDataStart > len) return rec;  // the record's head has not arrived yet
    uint32_t length = 0;
    bool length_ok = read_hex(buf + rec + 16, 8, &length);
    int next = rec + kDataStart;
    if (is_packet) {
      if (length_ok && length >= 1 && length <= 1499) {
        int dlen = static_cast<int>(length);
        if (rec + kDataStart + dlen > len) {
          add_to_lumavex_log("API-2516 Need more data !!! used=%d %d\n", rec, len);
          return rec;
        }
        int r = walk_packets(sender, buf + rec + kDataStart, dlen);
        if (r < 0) {
          add_to_lumavex_log("API-2516 Failed to process data. \n");
        } else {
          add_to_lumavex_log("API-2516 Processed data %d. used=%d\n", dlen, r);
        }
        next = rec + kDataStart + dlen;
      }
    } else if (length_ok && length == 13 && rec + kDataStart + 13 <= len) {
      uint32_t serial = 0;
      if (read_hex(buf + rec + 29, 8, &serial)) set_relay_serial(serial);
      next = rec + kDataStart + 13;
    }
    used = next;
    if (used >= 11 && used < len && buf[used] == '\0') ++used;
    add_to_lumavex_log("API-2516 Used data %d total=%d\n", used, len);
  }
  return used > len ? len : used;
}

}  // namespace

int rx_buffer(const LVXADDR &sender, const uint8_t *buf, int len) {
  if (buf == nullptr || len <= 0) return 0;
  if (link_record().is_connected < 0) return walk_relay_records(sender, buf, len);
  return walk_packets(sender, buf, len);
}

int xlink_rx_process(const LVXADDR &sender, const uint8_t *data, int remaining) {
  if (remaining < static_cast<int>(kHeaderSize)) return 0;
  Bytes p(data, static_cast<size_t>(remaining));
  PacketHeader h = decode_header(p);
  LinkRecord &r = link_record();

  if (r.last_sequence != -1 && h.sequence != static_cast<uint32_t>(r.last_sequence + 1)) {
    add_to_lumavex_log("LOST OR OUT OF ORDER PACKET %d %d\n", static_cast<int>(r.last_sequence),
                       static_cast<int>(h.sequence));
  }
  r.last_sequence = h.sequence;

  switch (h.type) {
    case CONNECT_PKT:
      handle_connect_packet(sender, p, h);
      return kConnectPacketUsed;
    case NODE_PKT:
      return handle_node_packet(sender, p);
    case STATUS_PKT:
      take_header_echo(h);
      return handle_status_packet(data, remaining);
    default:
      break;
  }
  if (!from_tracker(sender)) {
    add_to_lumavex_log("API-2516 Type = %d\n", h.type);
    return 0;
  }
  if (h.type != IMAGE_PKT && h.type != FILE_PKT && h.type != KEY_PKT && h.type != DATA_PKT) {
    add_to_lumavex_log("API-2516 UNKNOWN  1 type = %d len= %d\n", h.type, remaining);
    return kUnknownTypeUsed;
  }
  take_header_echo(h);
  switch (h.type) {
    case IMAGE_PKT:
      ++r.image_packets;
      return handle_image_packet(data, remaining);
    case FILE_PKT:
      return handle_file_packet(data, remaining);
    case KEY_PKT:
      return handle_key_packet(data, remaining);
    default:
      return handle_data_packet(data, remaining);
  }
}

}  // namespace lvx
