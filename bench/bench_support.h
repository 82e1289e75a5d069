// What the benchmarks share: where their threads run, and the simulated tracker that answers
// them.
//
// Where a benchmark's threads run. A round trip between threads is dominated by how the
// scheduler places them: on virtual machines a wake-up on another, idle processor costs tens of
// microseconds, so every benchmark says which placement it measured.
//   split: the tracker side on processor 1, the display side on processor 0, as when the
//          tracker is a computer of its own (the default with two or more processors);
//   one:   every thread on processor 0;
//   free:  wherever the scheduler puts them.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>

#include "link/address.h"
#include "link/transport.h"
#include "lumavex_core.h"
#include "platform/thread_priority.h"
#include "sim/tracker.h"

namespace bench {

enum class Placement { kSplit, kOne, kFree };

class Placements {
 public:
  // Takes "--placement=split|one|free"; false for any other argument.
  bool parse(const char *arg) {
    if (std::strcmp(arg, "--placement=split") == 0) {
      placement_ = Placement::kSplit;
    } else if (std::strcmp(arg, "--placement=one") == 0) {
      placement_ = Placement::kOne;
    } else if (std::strcmp(arg, "--placement=free") == 0) {
      placement_ = Placement::kFree;
    } else {
      return false;
    }
    return true;
  }
  // Falls back from split to one processor when there is only one.
  void settle() {
    if (placement_ == Placement::kSplit && lvx::platform::available_processors() < 2) {
      placement_ = Placement::kOne;
    }
  }
  const char *name() const {
    switch (placement_) {
      case Placement::kSplit:
        return "split: tracker side on processor 1, display side on processor 0";
      case Placement::kOne:
        return "one: every thread on processor 0";
      case Placement::kFree:
        break;
    }
    return "free: threads wherever the scheduler puts them";
  }
  // Pins the calling thread; threads it starts from now on inherit the processor.
  void tracker_side() const {
    if (placement_ != Placement::kFree) {
      lvx::platform::pin_current_thread(placement_ == Placement::kSplit ? 1 : 0);
    }
  }
  void display_side() const {
    if (placement_ != Placement::kFree) lvx::platform::pin_current_thread(0);
  }

 private:
  Placement placement_ = Placement::kSplit;
};

// Both answering peers (an echo thread and the simulated tracker) run at the priority the
// library's receive thread takes (time critical), as a tracker on its real-time system would.
constexpr int kPeerPriority = 15;

// A simulated tracker at `ip` that answers at the peers' priority and keeps no packet records
// (they would grow for the whole run).
inline lvxsim::Config answering_tracker(const lvxsim::IPv4 &ip) {
  lvxsim::Config config;
  config.ip = ip;
  config.record_packets = false;
  config.receive_priority = kPeerPriority;
  return config;
}

// Points the library at a simulated tracker that listens on ports the system chose (its TCP link
// port too, when it serves one), then names its address. Call before the link opens.
inline void point_library_at(const lvxsim::SimTracker &sim, const char *address) {
  lvx::transport_options().tracker_port = sim.udp_endpoint().port;
  if (sim.config().enable_tcp) lvx::transport_options().tracker_tcp_port = sim.tcp_endpoint().port;
  set_lumavex_address(address);
}

// Starts a tracker that serves files and points the library at it (its link and its file
// service); false, with the reason on standard error, when it cannot start.
inline bool start_file_tracker(lvxsim::SimTracker &sim, const lvxsim::IPv4 &ip) {
  std::string error;
  if (!sim.start(&error)) {
    std::fprintf(stderr, "tracker: %s\n", error.c_str());
    return false;
  }
  char address[32];
  std::snprintf(address, sizeof address, "%d.%d.%d.%d", ip[0], ip[1], ip[2], ip[3]);
  point_library_at(sim, address);
  lvx::transport_options().file_service_port = sim.file_service_port();
  return true;
}

}  // namespace bench
