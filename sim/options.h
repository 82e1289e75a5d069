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
  StreamConfig stream;
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

// The --help text: every option with its value and default.
const char *usage_text();

}  // namespace lvxsim
