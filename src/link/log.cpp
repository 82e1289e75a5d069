// The process's diagnostic log: one file, opened at most once and never closed, with every entry
// stamped with the local clock and flushed at once so that nothing is lost when the program dies.
// Unlike a bare stdio stream, entries are written under one lock, so entries from the receive
// thread and the application's threads never interleave within a line.
#include "link/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "link/clock.h"
#include "platform/process.h"

namespace lvx {
namespace {

constexpr const char *kAutoLogName = "lumavex_core.log";
constexpr const char *kSwitchLogName = "pk_debug.log";
constexpr const char *kLogSwitch = "-PK_DEBUG_LOG";
constexpr const char *kLogEnvironment = "LVKDEBUG_MODE";
constexpr const char *kTempVariables[] = {"TEMP", "TMPDIR", "HOME"};
constexpr const char *kConsoleEnvironment = "LVKDEBUG_STDOUT";

int16_t set_log_locked(LogState &state, const char *path) {
  if (state.file != nullptr) return -1;
  if (path == nullptr) {
    if (platform::command_line().find(kLogSwitch) == std::string::npos) return -1;
    path = kSwitchLogName;
  }
  FILE *file = std::fopen(path, "w+");
  if (file == nullptr) {
    // The application asked for this log, so it hears of the failure even with console output
    // off: on standard error, never standard output.
    std::fprintf(stderr, "Unable to open log file '%s'\n", path);
    std::fflush(stderr);
    return 0;
  }
  std::fprintf(file, "%s for lumavex_core created on %s %s\n", path, platform::build_date(),
               platform::build_time());
  std::fprintf(file, "CommandLine:%s\n", platform::command_line().c_str());
  std::fflush(file);
  state.file = file;
  state.may_write = true;
  return 0;
}

// A directory named by an environment variable: nothing when it is unset or empty. An empty
// value names no directory; taken as one, it would put files at the root of the file system.
std::optional<std::string> directory_value(const char *name) {
  std::optional<std::string> value = get_env_value(name);
  if (value && value->empty()) return std::nullopt;
  return value;
}

// The path the automatic log uses when LVKDEBUG_MODE is set: in TEMP, else TMPDIR, else in the
// current directory (an empty variable counts as unset here).
std::string automatic_log_path() {
  std::optional<std::string> dir = directory_value("TEMP");
  if (!dir) dir = directory_value("TMPDIR");
  if (!dir) return kAutoLogName;
  return *dir + "/" + kAutoLogName;
}

}  // namespace

std::optional<std::string> get_env_value(const char *name) {
  if (name == nullptr) return std::nullopt;
  std::optional<std::string> value = platform::env_value(name);
  // A variable set to the empty text is set: LVKDEBUG_MODE= switches the log on.
  if (!value || value->size() >= kEnvValueLimit) return std::nullopt;
  return value;
}

std::optional<std::string> get_temp_dir(const char *skip) {
  for (const char *name : kTempVariables) {
    if (skip != nullptr && std::strcmp(name, skip) == 0) continue;
    if (std::optional<std::string> value = directory_value(name)) return value;
  }
  return std::nullopt;
}

std::string format_log_prefix(double local_usec) {
  char text[64];
  const int n = std::snprintf(text, sizeof text, "%0.3f - ", local_usec * 0.001);
  if (n < 0) return {};
  return std::string(
      text, static_cast<size_t>(n) < sizeof text ? static_cast<size_t>(n) : sizeof text - 1);
}

bool log_is_open() {
  LogState &state = log_state();
  std::lock_guard<std::mutex> guard(state.mutex);
  return state.file != nullptr;
}

bool log_auto_open_tried() {
  LogState &state = log_state();
  std::lock_guard<std::mutex> guard(state.mutex);
  return state.tried;
}

int16_t set_log(const char *path) {
  try {
    LogState &state = log_state();
    std::lock_guard<std::mutex> guard(state.mutex);
    return set_log_locked(state, path);
  } catch (...) {
    return -1;
  }
}

void vlog_printf(const char *format, va_list args) {
  if (format == nullptr) return;
  try {
    LogState &state = log_state();
    if (!state.may_write.load(std::memory_order_relaxed)) return;
    std::lock_guard<std::mutex> guard(state.mutex);
    if (state.file == nullptr && !state.tried) {
      // A null path lets set_log fall back on the command-line switch.
      std::string path;
      if (get_env_value(kLogEnvironment)) path = automatic_log_path();
      set_log_locked(state, path.empty() ? nullptr : path.c_str());
      state.tried = true;
    }
    if (state.file == nullptr) {
      state.may_write = false;
      return;
    }
    const std::string prefix = format_log_prefix(local_double_usec());
    std::fputs(prefix.c_str(), state.file);
    std::vfprintf(state.file, format, args);
    std::fflush(state.file);
  } catch (...) {
    // Logging must never fail the caller; a lost line is the only cost.
  }
}

void log_printf(const char *format, ...) {
  if (format == nullptr || !log_state().may_write.load(std::memory_order_relaxed)) return;
  va_list args;
  va_start(args, format);
  vlog_printf(format, args);
  va_end(args);
}

namespace {

bool console_on() {
  std::atomic<int> &console = log_state().console;
  int on = console.load(std::memory_order_relaxed);
  if (on < 0) {
    on = platform::env_value(kConsoleEnvironment).has_value() ? 1 : 0;
    int unset = -1;
    if (!console.compare_exchange_strong(unset, on)) on = unset;
  }
  return on == 1;
}

}  // namespace

void set_console_output(bool on) {
  log_state().console.store(on ? 1 : 0);
}

void console_printf(const char *format, ...) {
  if (format == nullptr) return;
  const bool to_console = console_on();
  const bool to_log = log_state().may_write.load(std::memory_order_relaxed);
  if (!to_console && !to_log) return;
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (to_log) log_printf("%s", text);
  if (to_console) {
    std::fputs(text, stdout);
    std::fflush(stdout);
  }
}

}  // namespace lvx
