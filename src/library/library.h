// The owner of the library's process-wide state.
//
// Every subsystem keeps its state in one record reached through one accessor. The rule for all of
// them is the same: a record is built on first use and lives for the whole process; none is ever
// destroyed, so that a receive thread or a callback still running while the process exits never
// finds one gone. ensure_library() builds them in a fixed order (log, clocks, link, data, control,
// hooks, input, relay), registers each subsystem's packet handlers and services with the link,
// and installs the exit step. Every exported function calls it first.
//
// At process exit (also when the program returns from main without closing, and when it calls
// exit() from any thread) the exit step ends what the library runs: it sends a connected tracker
// its disconnect, so that the tracker stops streaming, and stops the receive thread, each within
// a bounded time (kExitWaitMs in all). Nothing is torn down after that; the operating system
// takes the memory back.
#pragma once

namespace lvx {

// How long the exit step waits at most, for the send lock and for the receive thread.
constexpr int kExitWaitMs = 300;

void ensure_library();

// The exit step itself; safe to call more than once and from any thread.
void end_library_at_exit();

}  // namespace lvx
