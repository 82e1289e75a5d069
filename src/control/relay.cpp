#include "control/relay.h"

#include <atomic>

#include "lumavex_core.h"

namespace lvx {

namespace {
std::atomic<uint32_t> g_relay_serial{0};
}

int relay_start_master() {
  add_to_lumavex_log("API-2516 relay master not available\n");
  return -1;
}

int relay_open_slave() {
  add_to_lumavex_log("API-2516 relay slave not available\n");
  return -1;
}

void relay_mark_failed() {}
void relay_close_connection() {}
void relay_notify_disconnect() {}
void set_relay_serial(uint32_t serial) {
  g_relay_serial = serial;
}
uint32_t relay_serial() {
  return g_relay_serial;
}
int relay_send_message(const char *, double) {
  return LINK_TERMINATED_RESULT;
}
int relay_read_request(const char *) {
  return LINK_TERMINATED_RESULT;
}

}  // namespace lvx
