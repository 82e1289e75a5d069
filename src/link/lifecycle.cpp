#include "link/lifecycle.h"

#include <cstdio>
#include <cstring>

#include "control/commands.h"
#include "control/keys.h"
#include "control/relay.h"
#include "data/data_stream.h"
#include "display/alert.h"
#include "files/link_transfer.h"
#include "link/clock.h"
#include "link/connection.h"
#include "link/link_state.h"
#include "link/packets.h"
#include "link/tracker_clock.h"
#include "link/transport.h"

namespace lvx {

namespace {

constexpr uint16_t kScriptingHostQueue = 20000;
constexpr uint16_t kSmallestQueue = 10000;
constexpr uint16_t kDefaultQueue = 30000;
constexpr int kConnectSeconds = 2;

// After a connection is made: restart the clock estimate and ask for link updates every 50 ms.
int16_t after_connect() {
  tracker_clock_restart();
  lumavex_timed_command(0, "link_update_interval = 50");
  if (link_system().relay_master == 1) return static_cast<int16_t>(relay_start_master());
  return 0;
}

}  // namespace

LinkSystem &link_system() {
  static LinkSystem s;
  return s;
}

uint32_t adjusted_queue_size(uint16_t requested) {
  if (requested == kScriptingHostQueue) return requested;
  if (requested < kSmallestQueue) return kDefaultQueue;
  return requested;
}

void link_reset() {
  clear_terminal_break();
  link_system().dummy = false;
  end_link_file_transfer();
  {
    LinkLockGuard lock;
    clear_key_state();
  }
  set_last_status_serial(-1);
  tracker_clock_reset();
}

}  // namespace lvx

using lvx::link_record;
using lvx::link_system;

extern "C" {

int16_t open_lumavex_system(uint16_t bufsize, const char *options) {
  lvx::LinkSystem &sys = link_system();
  sys.dummy = false;
  uint32_t queue = lvx::adjusted_queue_size(bufsize);
  bool scripting = bufsize == lvx::kScriptingHostQueue;
  if (scripting) {
    add_to_lumavex_log("The buffer size given is %d, it should be matlap PTB \n", bufsize);
  }
  sys.scripting_host = scripting;

  if (sys.open && options == nullptr) {
    lvx::link_reset();
    lvx::data_status_refresh();
    sys.open = true;
    return -1;
  }

  lvx::clear_link_state();
  {
    lvx::LinkLockGuard lock;
    lvx::copy_node_name(link_record().state.own_name, "Remote");
  }
  if (options != nullptr) {
    // The receive thread reads the options: change them only once it has stopped.
    lvx::TransportOptions parsed = lvx::transport_options();
    lvx::parse_options(options, &parsed);
    lvx::shutdown_net();
    lvx::transport_options() = parsed;
  }
  if (!lvx::network_running() && lvx::init_net() != 0) return 0;

  const lvx::TransportOptions &opts = lvx::transport_options();
  std::vector<lvx::IPv4> local = lvx::local_addresses();
  lvx::IPv4 own_ip = local.empty() ? lvx::IPv4{0, 0, 0, 0} : local.front();
  uint16_t own_port = lvx::bound_port() != 0 ? lvx::bound_port() : opts.remote_port;
  {
    lvx::LinkLockGuard lock;
    lvx::LinkStateFields &s = link_record().state;
    s.own_address = lvx::make_address(own_ip, own_port);
    s.tracker_broadcast = lvx::make_address({255, 255, 255, 255}, opts.tracker_port);
    s.remote_broadcast = lvx::make_address({255, 255, 255, 255}, opts.remote_port);
  }
  lvx::link_reset();
  lvx::seed_command_serial(static_cast<uint32_t>(own_ip[1] * 2561 + own_ip[2] * 17 + own_ip[3]));
  lvx::data_queue_init(queue);
  lumavex_reset_clock(1);
  lvx::data_status_refresh();
  sys.open = true;
  return -1;
}

void close_lumavex_system(void) {
  lvx::LinkSystem &sys = link_system();
  sys.dummy = false;
  if (!sys.open) return;
  lumavex_close(0);
  lumavex_reset_clock(0);
  lvx::data_queue_release();
  lvx::shutdown_net();
  sys.open = false;
}

int16_t lumavex_open_node(const LVXADDR *node, int16_t busytest) {
  lvx::LinkSystem &sys = link_system();
  sys.dummy = false;
  sys.broadcast_open = false;
  if (link_record().is_connected != 0) lumavex_close(0);
  if (!sys.open) return LINK_NOT_OPEN_RESULT;
  if (node == nullptr) return -1;
  LVXADDR target = *node;
  lumavex_set_tracker_node(&target);
  lvx::link_reset();
  int16_t r = lvx::do_connect(&target, busytest > 0 ? lvx::CONNECT_BUSYTEST : lvx::CONNECT_REQUEST,
                              lvx::kConnectSeconds);
  if (r != 0) return r;
  return lvx::after_connect();
}

int16_t lumavex_open(void) {
  link_system().dummy = false;
  LVXADDR node;
  {
    lvx::LinkLockGuard lock;
    node = link_record().tracker_node;
  }
  return lumavex_open_node(&node, 0);
}

int16_t lumavex_broadcast_open(void) {
  lvx::LinkSystem &sys = link_system();
  sys.dummy = false;
  sys.broadcast_open = true;
  if (link_record().is_connected != 0) lumavex_close(0);
  if (!sys.open) return LINK_NOT_OPEN_RESULT;
  lvx::link_reset();
  LVXADDR node;
  {
    lvx::LinkLockGuard lock;
    node = link_record().tracker_node;
  }
  int16_t r = lvx::do_connect(&node, lvx::CONNECT_BROADCAST, lvx::kConnectSeconds);
  if (r != 0) return r;
  link_record().is_connected = 2;
  lvx::tracker_clock_restart();
  lumavex_timed_command(0, "link_update_interval = 50");
  return 0;
}

int16_t lumavex_dummy_open(void) {
  if (link_record().is_connected != 0) return -1;
  link_system().broadcast_open = false;
  lvx::link_reset();
  link_system().dummy = true;
  return 0;
}

int16_t lumavex_close(int16_t /*send_msg*/) {
  lvx::end_link_file_transfer();
  lvx::do_disconnect();
  {
    lvx::LinkLockGuard lock;
    lvx::clear_key_state();
  }
  link_system().dummy = false;
  return 0;
}

int16_t open_lumavex_connection(int16_t mode) {
  lvx::LinkSystem &sys = link_system();
  if (mode == 3) {
    sys.relay_master = 1;
    mode = 0;
  } else if (mode != 2) {
    sys.relay_master = 0;
  }
  if (open_lumavex_system(lvx::kDefaultQueue, nullptr) == 0) {
    lvx::alert("Cannot initialize link: Check network and TCP/IP setup");
    return -1;
  }
  sys.connection_opened = 1;
  int16_t r = 0;
  if (mode == 0) {
    r = lumavex_open();
  } else if (mode > 0 && mode != 2) {
    r = lumavex_dummy_open();
  }
  if (r == 0) {
    lvx::data_reset(1);
    if (mode != 2) return 0;
    add_to_lumavex_log("API-2516 Open Salve \n");
    if (lvx::relay_open_slave() != 0) {
      lvx::relay_mark_failed();
      close_lumavex_connection();
      return -1;
    }
    link_record().is_connected = -1;
    add_to_lumavex_log("API-2516 Open Slave Ready\n");
    return 0;
  }
  switch (r) {
    case CONNECT_TIMEOUT_RESULT:
      lvx::alert("Connection timed out");
      break;
    case CONNECT_VERSION_MISMATCH_RESULT:
      lvx::alert("Version mismatch between LUMAVEX.DLL and LUMAVEX tracker software");
      break;
    case LINK_NOT_OPEN_RESULT:
      lvx::alert("Cannot initialize link");
      break;
    default:
      lvx::alert("Connection failed");
      break;
  }
  return -1;
}

void close_lumavex_connection(void) {
  lvx::LinkSystem &sys = link_system();
  if (!sys.connection_opened) return;
  if (lumavex_is_connected() == 1) {
    set_offline_mode();
    lumavex_send_command("close_data_file");
    lumavex_close(1);
  }
  close_lumavex_system();
  sys.connection_opened = 0;
}

void lumavex_set_name(const char *name) {
  lvx::LinkLockGuard lock;
  lvx::copy_node_name(link_record().state.own_name, name);
}

int16_t lumavex_quiet_mode(int16_t level) {
  std::atomic<int16_t> &quiet = link_system().quiet;
  int16_t previous = quiet.load();
  while (previous >= 0 && !quiet.compare_exchange_weak(previous, level)) {
  }
  return previous;
}

void lumavex_dll_version(char *text) {
  if (text != nullptr) std::strcpy(text, LUMAVEX_LIBRARY_VERSION_TEXT);
}

int16_t lumavex_set_tracker_node(const LVXADDR *node) {
  if (node != nullptr) {
    lvx::LinkLockGuard lock;
    link_record().tracker_node = *node;
  }
  return 0;
}

}  // extern "C"
