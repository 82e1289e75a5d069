// The diagnostic log and the environment lookups behind it. Every module writes its trace lines
// with add_to_lumavex_log(format, ...) from lumavex_core.h; formats end with "\n" themselves.
// The log is off unless the application calls lumavex_set_log, the command line holds
// "-PK_DEBUG_LOG", or the environment variable LVKDEBUG_MODE is set.
#pragma once

#include <optional>
#include <string>

namespace lvx {

// Values of this length or longer are treated as unset.
inline constexpr size_t kEnvValueLimit = 32767;

// The value of an environment variable; nothing when it is unset, empty, or kEnvValueLimit
// bytes or longer.
std::optional<std::string> get_env_value(const char *name);

// The value of the first of TEMP, TMPDIR and HOME that is set, passing over the variable named
// exactly `skip` (none when skip is null); nothing when none is set.
std::optional<std::string> get_temp_dir(const char *skip);

// The text that starts every log entry: the local time in milliseconds with three decimals, then
// " - ".
std::string format_log_prefix(double local_usec);

// True while a log file is open.
bool log_is_open();

// True once the first entry has consulted the environment and command line for a log.
bool log_auto_open_tried();

}  // namespace lvx
