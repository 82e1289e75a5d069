// The stand-alone simulated tracker's command line: a pure function from the arguments to what the
// program is to do, with the text of the first error. Nothing here prints or exits.
#pragma once

#include <string>
#include <vector>

#include "sim/stream.h"
#include "sim/tracker.h"

namespace lvxsim {

struct ProgramOptions {
  // The tracker as configured; the stand-alone program runs the whole control side by default.
  Config tracker = [] {
    Config c;
    c.control.enabled = true;
    return c;
  }();
  // Print each command with its result, each stored message and each mode change.
  bool print_commands = false;
  // Print a line for each connect and disconnect request that arrives.
  bool print_connections = false;
  // Stream to every display that connects, whatever its mode, with this configuration. The
  // eyes and seed also go into recordings (tracker.control.stream).
  bool stream_on_connect = false;
  // The stream's configuration, including its fault rates (drop, duplicate, reorder).
  StreamConfig stream;
  // Faults on a schedule, each once, counted from the moment the first display connects.
  // Silence: the tracker is cut off the network (SimTracker::set_silent) for silence_for_ms.
  int silence_after_ms = -1;  // -1: never
  int silence_for_ms = 25000;
  // Restart: the tracker closes its ports and forgets the display, stays down for down_for_ms,
  // then listens again on the same ports.
  int restart_after_ms = -1;  // -1: never
  int down_for_ms = 5000;
};

struct ParsedOptions {
  enum class Outcome {
    kRun,    // options holds what to run
    kHelp,   // --help: print usage_text() and stop
    kError,  // error holds the reason; show_usage asks for the usage text after it
  };
  Outcome outcome = Outcome::kRun;
  ProgramOptions options;
  std::string error;
  bool show_usage = false;
};

// Parses the arguments after the program name.
ParsedOptions parse_program_options(const std::vector<std::string> &args);

// The --help text, written as a manual page (NAME, SYNOPSIS, DESCRIPTION, option sections, EXIT
// STATUS, EXAMPLES); the build turns it into lumavex_sim_tracker.1. Every option is listed with
// its value and default.
const char *usage_text();

// The one line printed after a command-line error.
const char *short_usage_text();

}  // namespace lvxsim
