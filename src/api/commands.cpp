// Exported command functions: tracker commands and their results, the text of the last result,
// the idle mode, and the error texts of result codes.
#include <cstdarg>
#include <cstdio>

#include "api/guard.h"
#include "control/commands.h"
#include "control/control_state.h"
#include "control/error_table.h"
#include "control/tracker_mode.h"
#include "lumavex_core.h"

using lvx::api::guard;

extern "C" {

int16_t lumavex_send_command(const char *text) noexcept {
  return guard(int16_t{LINK_TERMINATED_RESULT}, [&] { return lvx::send_command(text); });
}

int16_t lumavex_timed_command(uint32_t msec, const char *text) noexcept {
  return guard(int16_t{LINK_TERMINATED_RESULT}, [&] { return lvx::timed_command(msec, text); });
}

int16_t lumavex_command_result(void) noexcept {
  return guard(int16_t{LINK_TERMINATED_RESULT}, [] { return lvx::command_result(); });
}

int16_t lumavex_wait_for_command_result(uint32_t msec) noexcept {
  return guard(int16_t{NO_REPLY}, [&] { return lvx::wait_for_result(0, msec); });
}

// The text is formatted into a buffer of its own, cut at the longest command any tracker takes.
int16_t eyecmd_printf(const char *format, ...) noexcept {
  if (format == nullptr) return lvx::kBadText;
  char text[lvx::kMaxFormattedCommand + 1] = {};
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return guard(int16_t{LINK_TERMINATED_RESULT}, [&] { return lvx::send_command_pieces(text); });
}

int16_t lumavex_last_message(char *buf) noexcept {
  return guard(int16_t{0}, [&] { return lvx::last_command_message(buf); });
}

int16_t set_offline_mode(void) noexcept {
  return guard(int16_t{LINK_TERMINATED_RESULT}, [] { return lvx::set_offline(); });
}

const char *lumavex_get_error(int code, const char *function_name) noexcept {
  return guard<const char *>(nullptr, [&] { return lvx::error_text(code, function_name); });
}

}  // extern "C"
