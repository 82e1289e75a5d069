// The diagnostic log and the environment lookups behind it. Every module writes its trace lines
// with log_printf(format, ...); formats end with "\n" themselves. The log is off unless the
// application names a file, the command line holds "-PK_DEBUG_LOG", or the environment variable
// LVKDEBUG_MODE is set.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

namespace lvx {

// The log's process-wide record. The file and `tried` are guarded by `mutex`; the flags are read
// without it.
struct LogState {
  std::mutex mutex;
  FILE *file = nullptr;
  // Set once the first entry has looked for a log, so the environment is consulted only once.
  bool tried = false;
  // False once the first entry has looked and no log is open: entries then return without
  // taking the mutex, which keeps the many trace lines of the receive path cheap.
  std::atomic<bool> may_write{true};
  // Console output: -1 until the environment has been read, then 0 or 1; set_console_output
  // overrides it.
  std::atomic<int> console{-1};
};

LogState &log_state();

// Writes one entry: the local-time prefix, then the formatted text. Returns at once, without
// taking a lock, once the first entry has found that no log is wanted.
void log_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));
void vlog_printf(const char *format, va_list args) __attribute__((format(printf, 1, 0)));

// Diagnostics that the library once printed on standard output (socket set-up failures, connect
// and disconnect notices, a corrupt TCP stream). They go into the log as an entry when the log is
// open, and to standard output only when the environment variable LVKDEBUG_STDOUT is set (to any
// value) or set_console_output(true) asked for it: a library prints nothing unless asked.
void console_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Overrides the environment's choice (tests, tools).
void set_console_output(bool on);

// Opens the log at `path` (null: "pk_debug.log" when the command line holds the switch). 0 when
// opened, -1 when a log is already open or no path applies, 0 with a printed line when the file
// cannot be created.
int16_t set_log(const char *path);

// Values of this length or longer are treated as unset.
inline constexpr size_t kEnvValueLimit = 32767;

// The value of an environment variable; nothing when it is unset or kEnvValueLimit bytes or
// longer. An empty value is a value: LVKDEBUG_MODE set to nothing switches the log on.
std::optional<std::string> get_env_value(const char *name);

// The value of the first of TEMP, TMPDIR and HOME that is set and not empty (an empty value names
// no directory), passing over the variable named exactly `skip` (none when skip is null); nothing
// when none is.
std::optional<std::string> get_temp_dir(const char *skip);

// The text that starts every log entry: the local time in milliseconds with three decimals, then
// " - ".
std::string format_log_prefix(double local_usec);

// True while a log file is open.
bool log_is_open();

// True once the first entry has consulted the environment and command line for a log.
bool log_auto_open_tried();

}  // namespace lvx
