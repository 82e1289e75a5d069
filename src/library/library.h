// The owner of the library's process-wide state.
//
// Every subsystem keeps its state in a named record, declared with its accessor in the
// subsystem's own header. All of them are members of one library record (LibraryRecord in
// library.cpp, whose definition shows the build order and the lock order), and the accessors,
// defined there, return its members. ensure_library() builds it once, when the library is loaded
// (or by the first call that needs it, whichever comes first), in the order of the layers: link
// (clock, log, tracker clock, alerts, link flags and record, transport, dispatch table), relay,
// data, hooks, control, display, recording, files. It then starts the local clock, registers each
// subsystem's packet routes and services with the link and decides the real-time set-up. Nothing
// is ever freed, so that a receive thread or a callback still running while the process exits
// never finds a record gone. State kept per thread lives in one per-thread record beside it.
//
// The first open of the link system installs the exit step. At process exit (also when the
// program returns from main without closing, and when it calls exit() from any thread) it ends
// what the library runs: it sends a connected tracker its disconnect, so that the tracker stops
// streaming, and stops the receive thread, each within a bounded time (kExitWaitMs in all).
// Nothing is torn down after that; the operating system takes the memory back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "link/dispatcher.h"

namespace lvx {

// How long the exit step waits at most, for the send lock and for the receive thread.
constexpr int kExitWaitMs = 300;

// Builds the library record (once); every exported function calls it first.
void ensure_library();

// One packet route the owner registers at start-up.
struct PacketRouteEntry {
  uint8_t type;
  PacketRoute route;
};

// Registers routes with the link. Each one the link refuses (no handler, a type routed already,
// one of the link's own types) is a start-up fault: logged, shown as an alert and counted; the
// table keeps what it had. Returns the number refused.
int register_packet_routes(std::span<const PacketRouteEntry> routes);

// Registrations refused since the library was built; 0 for a sound start-up.
int library_start_faults();

// Installs the exit step with atexit, once; called when the link system opens, since only an
// open link needs ending at exit.
void install_exit_step();

// The exit step itself; safe to call more than once and from any thread.
void end_library_at_exit();

// alert_printf formats into the calling thread's buffer of this many bytes, which stays valid
// until that thread's next alert_printf.
constexpr size_t kAlertTextBytes = 1024;
char *thread_alert_text() noexcept;

}  // namespace lvx
