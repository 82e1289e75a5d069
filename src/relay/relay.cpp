#include "relay/relay.h"

#include <atomic>
#include <string_view>

#include "link/dispatcher.h"
#include "link/log.h"
#include "lumavex_core.h"

namespace lvx {

namespace {

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
int walk_relay_records(const LVXADDR &sender, Bytes buffer) {
  const uint8_t *buf = buffer.data();
  const int len = static_cast<int>(buffer.size());
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
          log_printf("API-2516 Need more data !!! used=%d %d\n", rec, len);
          return rec;
        }
        int r = walk_packets(sender, buffer.subspan(static_cast<size_t>(rec + kDataStart),
                                                    static_cast<size_t>(dlen)));
        if (r < 0) {
          log_printf("API-2516 Failed to process data. \n");
        } else {
          log_printf("API-2516 Processed data %d. used=%d\n", dlen, r);
        }
        next = rec + kDataStart + dlen;
      }
    } else if (length_ok && length == 13 && rec + kDataStart + 13 <= len) {
      uint32_t serial = 0;
      if (read_hex(buf + rec + 29, 8, &serial)) relay_state().serial = serial;
      next = rec + kDataStart + 13;
    }
    used = next;
    if (used >= 11 && used < len && buf[used] == '\0') ++used;
    log_printf("API-2516 Used data %d total=%d\n", used, len);
  }
  return used > len ? len : used;
}

}  // namespace

int relay_start_master() {
  log_printf("API-2516 relay master not available\n");
  return -1;
}

int relay_open_slave() {
  log_printf("API-2516 relay slave not available\n");
  return -1;
}

void relay_mark_failed() {}
void relay_close_connection() {}
void relay_notify_disconnect() {}
uint32_t relay_serial() {
  return relay_state().serial;
}
int relay_send_message(const char *, double) {
  return LINK_TERMINATED_RESULT;
}
int relay_read_request(const char *) {
  return LINK_TERMINATED_RESULT;
}

int relay_buffer(const LVXADDR &sender, Bytes buffer) {
  return walk_relay_records(sender, buffer);
}

}  // namespace lvx
