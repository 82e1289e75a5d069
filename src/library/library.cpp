#include "library/library.h"

#include <cstdlib>
#include <mutex>

#include "control/commands.h"
#include "control/control_state.h"
#include "control/input.h"
#include "control/keys.h"
#include "control/messages.h"
#include "control/realtime.h"
#include "control/requests.h"
#include "control/status.h"
#include "data/data_stream.h"
#include "display/camera_image.h"
#include "files/link_transfer.h"
#include "hooks/graphic_hooks.h"
#include "library/lifecycle.h"
#include "link/alert.h"
#include "link/clock.h"
#include "link/connection.h"
#include "link/dispatcher.h"
#include "link/link_state.h"
#include "link/log.h"
#include "link/transport.h"
#include "relay/relay.h"

namespace lvx {

namespace {

void build_records() {
  // Built in the order of the layers, so that no record's construction reaches one not yet built.
  clock_initialise(false);
  link_system();
  link_record();
  relay_state();
  data_stream();
  control_state();
  graphic_hooks();
  input_event_queue(true);

  register_packet_route(STATUS_PKT, {handle_status_packet, /*tracker_only=*/false});
  register_packet_route(KEY_PKT, {handle_key_packet, true});
  register_packet_route(DATA_PKT, {handle_data_packet, true});
  register_packet_route(IMAGE_PKT, {handle_image_packet, true});
  register_packet_route(FILE_PKT, {handle_file_packet, true});
  register_mode_observer(on_tracker_mode_word);
  register_relay_walker(relay_buffer);
  register_relay_io(relay_forward, relay_read);
  register_relay_services({send_message, read_request_for_slave, set_request_serial});

  set_alert_sink(hook_alert);
  set_hook_command_sender(timed_command);
  set_playback_requester(send_playback_request);
  // How real-time mode raises threads, decided once (and logged) for the process.
  realtime_setup_at_load();

  std::atexit([] { end_library_at_exit(); });
}

}  // namespace

void ensure_library() {
  static std::once_flag once;
  std::call_once(once, build_records);
}

void end_library_at_exit() {
  end_link_at_exit(kExitWaitMs);
}

}  // namespace lvx

namespace {

// Start the local clock when the library is loaded, so that every time the application reads
// counts from the same zero point from the start.
__attribute__((constructor)) void on_library_load() {
  lvx::clock_initialise(false);
}

}  // namespace
