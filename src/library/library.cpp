#include "library/library.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "backdrop/backdrop_state.h"
#include "control/commands.h"
#include "control/control_state.h"
#include "control/input.h"
#include "control/keys.h"
#include "control/message_file.h"
#include "control/messages.h"
#include "control/realtime.h"
#include "control/requests.h"
#include "control/status.h"
#include "data/data_stream.h"
#include "data/gaze_mapping.h"
#include "data/velocity_history.h"
#include "display/camera_image.h"
#include "display/crosshair.h"
#include "display/setup_kernel.h"
#include "files/download.h"
#include "files/file_service.h"
#include "files/link_transfer.h"
#include "hooks/graphic_hooks.h"
#include "library/lifecycle.h"
#include "link/alert.h"
#include "link/clock.h"
#include "link/connection.h"
#include "link/dispatcher.h"
#include "link/link_state.h"
#include "link/log.h"
#include "link/tracker_clock.h"
#include "link/transport.h"
#include "link/transport_record.h"
#include "link/user_calls.h"
#include "recording/recording.h"
#include "relay/relay.h"

namespace lvx {

namespace {

// Every process-wide record of the library, in the order it is built: the order of the layers,
// lowest first, so that nothing is built before what it stands on. Built once, by ensure_library,
// and never freed: a receive thread or a callback still running while the process exits finds
// every record in place. A record's constructor reaches no other record.
//
// The locks, in the order a thread takes them: a thread that holds one takes only locks further
// down. Each is numbered again beside the record that holds it.
//    0 backdrop.link_lock     one backdrop's link transfer, commands and packets included
//    0 relay.master.start_stop  a relay master's start or stop (the stop joins its threads, which
//                             take the locks below but never this one); never held with the
//                             backdrop's
//    1 message_file.lock      held while a line goes to the tracker
//    2 data.reader_lock       a reader's whole batch
//    3 messages.message_lock  one message, all its pieces
//    4 commands.send_lock     one command, from its serial's draw to the end of its send
//    5 transport.link_lock    the receive thread's dispatch, and every look at what it files
//    5a relay.master.slots[i].lock  one slave's socket and outbox: the receive thread's
//                             forwarding, a read request's serial for its slave (under 4 and 5),
//                             the message thread's flushes and drops; one slot at a time
//    6 data.data_lock         one data packet taken in, or one item read
//    7 data.queue_lock        one item queued or taken
//    8 transport.send_lock    one packet on the wire
//    8a relay.slave.send_lock  one record to the master, its connection opened or closed
//    8b relay.slave.recv_lock  the receive thread's read from the master (the connection changes
//                             only under both 8a and 8b)
//    9 clock.init_mutex       one clock initialisation (which restarts the estimate under 10)
//   10 tracker_clock.lock     the tracker-clock estimate
//   11 the leaves: messages.pace_lock and long_id_lock, the input event queue's lock,
//      realtime.lock, transport.done_mutex and testing_mutex, velocity.lock (taken under 6 by
//      the intake, and after velocity.calculation_lock by a calculation)
//   12 log.mutex              one log entry; the last of all
struct LibraryRecord {
  // link/
  ClockRecord clock;                 // 9
  LogState log;                      // 12
  SharedTrackerClock tracker_clock;  // 10
  AlertRecord alert;
  LinkSystem link_system;
  LinkRecord link;
  Transport transport;  // 5 link_lock, 8 send_lock, 11 done_mutex and testing_mutex
  DispatchTable dispatch;
  // relay/
  RelayState relay;  // 0 start_stop, 5a the slots' locks, 8a and 8b the slave's
  // data/
  DataStream data;           // 2 reader_lock, 6 data_lock, 7 queue_lock
  VelocityHistory velocity;  // calculation_lock (never held by the receive thread), 11 lock
  MappingRecord mapping;
  // hooks/
  HooksRecord hooks;
  // control/
  ControlState control;
  CommandChannel commands;         // 4
  MessageChannel messages;         // 3 message_lock, 11 pace_lock and long_id_lock
  InputRecord input;               // 11
  MessageFileRecord message_file;  // 1
  RealtimeState realtime;          // 11
  // display/
  CameraRecord camera;
  KernelState kernel;
  OverlaySmoothing overlay;
  // recording/
  RecordingState recording;
  // files/
  FileTransfer file_transfer;
  FileServiceRecord file_service;
  DownloadRecord downloads;
  // backdrop/
  BackdropState backdrop;  // 0 link_lock
  // library/: start-up faults (refused registrations), and whether the exit step is installed.
  std::atomic<int> start_faults{0};
  std::atomic<bool> exit_step_installed{false};
};

// Each thread's own record. Thread-local state cannot be a member of the library record, so the
// little that is kept per thread lives here, in one place. Constant-initialised and trivially
// destructible, so that it is there from the thread's first instruction to its last (the exit
// step still takes library locks after the main thread's thread-local objects are gone).
struct ThreadRecord {
  ThreadCalls calls;                    // the library locks held, and the calls kept meanwhile
  double datagram_arrival_usec = -1.0;  // receive threads: the datagram being walked
  char alert_text[kAlertTextBytes];     // alert_printf's text, valid until the next alert
};

constinit std::once_flag g_build_once;
constinit std::atomic<LibraryRecord *> g_library{nullptr};
constinit thread_local ThreadRecord t_thread{};

// The record, built first if need be (a call that comes before the library's load step).
LibraryRecord &library() {
  LibraryRecord *r = g_library.load(std::memory_order_acquire);
  if (r != nullptr) return *r;
  ensure_library();
  return *g_library.load(std::memory_order_acquire);
}

// The routes of the subsystems' packet types.
constexpr PacketRouteEntry kRoutes[] = {
    {STATUS_PKT, {handle_status_packet, /*tracker_only=*/false}},
    {KEY_PKT, {handle_key_packet, true}},
    {DATA_PKT, {handle_data_packet, true}},
    {IMAGE_PKT, {handle_image_packet, true}},
    {FILE_PKT, {handle_file_packet, true}},
};

void start_fault(const char *what) {
  library().start_faults.fetch_add(1);
  log_printf("Library start-up: %s refused\n", what);
  alert("Library start-up: %s refused", what);
}

void build_library() {
  // Publishing the record first lets the steps below (run on this thread only) reach it.
  g_library.store(new LibraryRecord, std::memory_order_release);
  // The local clock counts from here.
  clock_initialise(false);

  set_alert_sink(hook_alert);
  register_packet_routes(kRoutes);
  if (!register_mode_observer(on_tracker_mode_word)) start_fault("the mode observer");
  if (!register_relay_walker(relay_buffer)) start_fault("the relay walker");
  if (!register_relay_io(relay_forward, relay_read))
    start_fault("the relay's forwarder and reader");
  if (!register_relay_services({send_message, read_request_for_slave, set_request_serial})) {
    start_fault("the relay's services");
  }
  set_hook_command_sender(timed_command);
  set_playback_requester(send_playback_request);
  // How real-time mode raises threads, decided once for the process.
  realtime_setup_at_load();
}

}  // namespace

void ensure_library() {
  std::call_once(g_build_once, build_library);
}

int register_packet_routes(std::span<const PacketRouteEntry> routes) {
  int refused = 0;
  for (const PacketRouteEntry &e : routes) {
    if (register_packet_route(e.type, e.route)) continue;
    char what[40];
    std::snprintf(what, sizeof what, "the route of packet type %u", e.type);
    start_fault(what);
    ++refused;
  }
  return refused;
}

int library_start_faults() {
  return library().start_faults.load();
}

void install_exit_step() {
  if (library().exit_step_installed.exchange(true)) return;
  std::atexit([] { end_library_at_exit(); });
}

void end_library_at_exit() {
  end_link_at_exit(kExitWaitMs);
}

// The accessors of the records, each a member of the one record.
ClockRecord &clock_record() {
  return library().clock;
}
LogState &log_state() {
  return library().log;
}
SharedTrackerClock &shared_tracker_clock() {
  return library().tracker_clock;
}
AlertRecord &alert_record() {
  return library().alert;
}
LinkSystem &link_system() {
  return library().link_system;
}
LinkRecord &link_record() {
  return library().link;
}
Transport &transport() {
  return library().transport;
}
DispatchTable &dispatch_table() {
  return library().dispatch;
}
RelayState &relay_state() {
  return library().relay;
}
DataStream &data_stream() {
  return library().data;
}
VelocityHistory &velocity_history() {
  return library().velocity;
}
MappingRecord &mapping_record() {
  return library().mapping;
}
BackdropState &backdrop_state() {
  return library().backdrop;
}
HooksRecord &hooks_record() {
  return library().hooks;
}
ControlState &control_state() {
  return library().control;
}
CommandChannel &command_channel() {
  return library().commands;
}
MessageChannel &message_channel() {
  return library().messages;
}
InputRecord &input_record() {
  return library().input;
}
MessageFileRecord &message_file_record() {
  return library().message_file;
}
RealtimeState &realtime_state() {
  return library().realtime;
}
CameraRecord &camera_record() {
  return library().camera;
}
KernelState &kernel_state() {
  return library().kernel;
}
OverlaySmoothing &overlay_smoothing() {
  return library().overlay;
}
RecordingState &recording_state() {
  return library().recording;
}
FileTransfer &file_transfer() {
  return library().file_transfer;
}
FileServiceRecord &file_service_record() {
  return library().file_service;
}
DownloadRecord &download_record() {
  return library().downloads;
}

// The fields of the calling thread's record.
ThreadCalls &thread_calls() noexcept {
  return t_thread.calls;
}
double &thread_arrival_usec() noexcept {
  return t_thread.datagram_arrival_usec;
}
char *thread_alert_text() noexcept {
  return t_thread.alert_text;
}

}  // namespace lvx

namespace {

// The library is built when it is loaded: the local clock then counts from the load, and the
// real-time set-up is decided before the application's first call.
__attribute__((constructor)) void on_library_load() {
  lvx::ensure_library();
}

}  // namespace
