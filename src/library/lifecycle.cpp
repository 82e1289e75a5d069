#include "library/lifecycle.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "control/commands.h"
#include "control/keys.h"
#include "control/tracker_mode.h"
#include "data/data_stream.h"
#include "files/link_transfer.h"
#include "library/library.h"
#include "link/alert.h"
#include "link/clock.h"
#include "link/connection.h"
#include "link/link_state.h"
#include "link/log.h"
#include "link/packets.h"
#include "link/tracker_clock.h"
#include "link/transport.h"
#include "platform/net.h"
#include "relay/relay.h"

namespace lvx {

namespace {

constexpr uint16_t kScriptingHostQueue = 20000;
constexpr uint16_t kSmallestQueue = 10000;
constexpr uint16_t kDefaultQueue = 30000;
constexpr int kConnectSeconds = 2;

// Tells the user why a connect failed, by the cause the connect saw: the tracker's answer (busy,
// another protocol), no answer at all, or the socket error of the connect request (a Linux name,
// not a number). The one result of open_lumavex_connection (-1) cannot carry the cause.
void alert_connect_failure(int16_t r) {
  LVXADDR node;
  {
    LinkLockGuard lock;
    node = link_record().tracker_node;
  }
  const IPv4 ip = address_ip(node);
  char where[32];
  std::snprintf(where, sizeof where, "%u.%u.%u.%u:%u", ip[0], ip[1], ip[2], ip[3],
                static_cast<unsigned>(address_port(node)));
  switch (r) {
    case CONNECT_TIMEOUT_RESULT:
      alert("Connection timed out: no answer from the tracker at %s within %d s", where,
            kConnectSeconds);
      break;
    case CONNECT_VERSION_MISMATCH_RESULT:
      alert(
          "Version mismatch between lumavex_core and LUMAVEX tracker software: the tracker at %s "
          "speaks another link protocol",
          where);
      break;
    case CONNECT_BUSY_RESULT:
      alert("Connection failed: the tracker at %s is busy with another display", where);
      break;
    case LINK_NOT_OPEN_RESULT:
      alert("Cannot initialize link");
      break;
    default:
      if (r > 0) {
        alert("Connection failed: cannot send to the tracker at %s: %s (%s)", where,
              platform::socket_error_text(r), platform::socket_error_name(r));
      } else {
        alert("Connection failed (%d)", r);
      }
      break;
  }
}

// After a connection is made: restart the clock estimate and ask for link updates every 50 ms.
int16_t after_connect() {
  tracker_clock_restart();
  timed_command(0, "link_update_interval = 50");
  if (link_system().relay_master == 1) return static_cast<int16_t>(relay_start_master());
  return 0;
}

// Makes sure the transport runs with a usable link. A TCP link whose stream broke (corrupt, closed
// by the tracker, or a frame that could not be sent whole) has no reader and carries nothing
// more; the transport is stopped and started again, which makes a fresh TCP connection to the
// tracker node. A running, healthy transport is left alone. False when it cannot start.
bool ensure_transport() {
  if (network_running() && !transport_broken()) return true;
  if (transport_broken()) log_printf("displayAPI: restarting the broken TCP link\n");
  shutdown_net();
  return init_net() == 0;
}

}  // namespace

uint32_t adjusted_queue_size(uint16_t requested) {
  if (requested == kScriptingHostQueue) return requested;
  if (requested < kSmallestQueue) return kDefaultQueue;
  return requested;
}

void reset_link() {
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

int16_t open_system(uint16_t bufsize, const char *options) {
  install_exit_step();
  LinkSystem &sys = link_system();
  sys.dummy = false;
  uint32_t queue = adjusted_queue_size(bufsize);
  bool scripting = bufsize == kScriptingHostQueue;
  if (scripting) {
    log_printf("The buffer size given is %d, it should be matlap PTB \n", bufsize);
  }
  sys.scripting_host = scripting;

  if (sys.open && options == nullptr) {
    if (!ensure_transport()) return 0;
    reset_link();
    data_status_refresh();
    sys.open = true;
    return -1;
  }

  clear_link_state();
  {
    LinkLockGuard lock;
    copy_node_name(link_record().state.own_name, "Remote");
  }
  if (options != nullptr) {
    // The receive thread reads the options: change them only once it has stopped.
    TransportOptions parsed = transport_options();
    parse_options(options, &parsed);
    shutdown_net();
    transport_options() = parsed;
  }
  if (!ensure_transport()) return 0;

  const TransportOptions &opts = transport_options();
  std::vector<IPv4> local = local_addresses();
  IPv4 own_ip = local.empty() ? IPv4{0, 0, 0, 0} : local.front();
  uint16_t own_port = bound_port() != 0 ? bound_port() : opts.remote_port;
  {
    LinkLockGuard lock;
    LinkStateFields &s = link_record().state;
    s.own_address = make_address(own_ip, own_port);
    s.tracker_broadcast = make_address({255, 255, 255, 255}, opts.tracker_port);
    s.remote_broadcast = make_address({255, 255, 255, 255}, opts.remote_port);
  }
  reset_link();
  seed_command_serial(static_cast<uint32_t>(own_ip[1] * 2561 + own_ip[2] * 17 + own_ip[3]));
  data_queue_init(queue);
  clock_initialise(false);
  data_status_refresh();
  sys.open = true;
  return -1;
}

void close_system() {
  LinkSystem &sys = link_system();
  sys.dummy = false;
  if (!sys.open) return;
  close_link();
  data_queue_release();
  shutdown_net();
  sys.open = false;
}

int16_t open_node(const LVXADDR *node, int16_t busytest) {
  LinkSystem &sys = link_system();
  sys.dummy = false;
  sys.broadcast_open = false;
  if (link_record().is_connected != 0) close_link();
  if (!sys.open) return LINK_NOT_OPEN_RESULT;
  if (node == nullptr) return -1;
  LVXADDR target = *node;
  set_tracker_node(&target);
  // Over a broken TCP link the connect request could not even be sent: connect afresh (to the
  // node just named).
  if (transport_broken() && !ensure_transport()) return CONNECT_TIMEOUT_RESULT;
  reset_link();
  int16_t r =
      do_connect(&target, busytest > 0 ? CONNECT_BUSYTEST : CONNECT_REQUEST, kConnectSeconds);
  if (r != 0) return r;
  return after_connect();
}

int16_t open_tracker() {
  link_system().dummy = false;
  LVXADDR node;
  {
    LinkLockGuard lock;
    node = link_record().tracker_node;
  }
  return open_node(&node, 0);
}

int16_t broadcast_open() {
  LinkSystem &sys = link_system();
  sys.dummy = false;
  sys.broadcast_open = true;
  if (link_record().is_connected != 0) close_link();
  if (!sys.open) return LINK_NOT_OPEN_RESULT;
  reset_link();
  LVXADDR node;
  {
    LinkLockGuard lock;
    node = link_record().tracker_node;
  }
  int16_t r = do_connect(&node, CONNECT_BROADCAST, kConnectSeconds);
  if (r != 0) return r;
  link_record().is_connected = 2;
  tracker_clock_restart();
  timed_command(0, "link_update_interval = 50");
  return 0;
}

int16_t dummy_open() {
  if (link_record().is_connected != 0) return -1;
  link_system().broadcast_open = false;
  reset_link();
  link_system().dummy = true;
  return 0;
}

int16_t close_link() {
  end_link_file_transfer();
  // The relay goes with the link, also when the link already reads 0 (a slave whose master has
  // gone, a master whose tracker fell silent).
  relay_close_connection();
  relay_notify_disconnect();
  do_disconnect();
  {
    LinkLockGuard lock;
    clear_key_state();
  }
  link_system().dummy = false;
  return 0;
}

int16_t open_connection(int16_t mode) {
  LinkSystem &sys = link_system();
  if (mode == 3) {
    sys.relay_master = 1;
    mode = 0;
  } else if (mode != 2) {
    sys.relay_master = 0;
  }
  if (open_system(kDefaultQueue, nullptr) == 0) {
    // The cause the transport saw, so that the user can act on it without a debugger.
    const std::string why = transport_start_failure();
    if (why.empty()) {
      alert("Cannot initialize link: Check network and TCP/IP setup");
    } else {
      alert("Cannot initialize link: Check network and TCP/IP setup (%s)", why.c_str());
    }
    return -1;
  }
  sys.connection_opened = 1;
  int16_t r = 0;
  if (mode == 0) {
    r = open_tracker();
  } else if (mode > 0 && mode != 2) {
    r = dummy_open();
  }
  if (r == 0) {
    data_reset(1);
    if (mode != 2) return 0;
    log_printf("API-2516 Open Salve \n");
    if (relay_open_slave() != 0) {
      relay_mark_failed();
      close_connection();
      alert("Cannot join the relay master: %s", relay_failure());
      return -1;
    }
    link_record().is_connected = -1;
    log_printf("API-2516 Open Slave Ready\n");
    return 0;
  }
  // A master's tracker is connected when only its relay failed to start.
  if (sys.relay_master == 1 && link_record().is_connected > 0) {
    alert("Cannot start the relay master: %s", relay_failure());
  } else {
    alert_connect_failure(r);
  }
  return -1;
}

void close_connection() {
  LinkSystem &sys = link_system();
  if (!sys.connection_opened) return;
  if (connection_state() == 1) {
    set_offline();
    send_command("close_data_file");
    close_link();
  }
  close_system();
  sys.connection_opened = 0;
}

void end_link_at_exit(int wait_ms) {
  LinkSystem &sys = link_system();
  if (!sys.open.exchange(false)) return;
  const uint32_t start = local_ms();
  // Only the disconnect: the tracker then stops streaming and closes the session. Waiting for
  // commands (idle mode, closing the data file) could hold the exit for seconds.
  relay_end_at_exit();
  if (link_record().is_connected > 0) disconnect_within(wait_ms / 2);
  const int spent = static_cast<int>(local_ms() - start);
  stop_net(wait_ms > spent ? wait_ms - spent : 0);
  sys.connection_opened = 0;
}

}  // namespace lvx
