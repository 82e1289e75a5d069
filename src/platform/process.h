// Process-level facts: the command line, environment variables and the host name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace lvx::platform {

// The process command line, arguments joined by single blanks (read from /proc/self/cmdline).
const std::string &command_line();

// The value of an environment variable, or nothing when it is not set.
std::optional<std::string> env_value(const char *name);

// This machine's host name, or nothing when it cannot be read.
std::optional<std::string> host_name();

// This process's id.
uint32_t process_id();

// Build date and time of the library, as "Mmm dd yyyy" and "hh:mm:ss".
const char *build_date();
const char *build_time();

}  // namespace lvx::platform
