// Exported message functions: texts the tracker writes, time-stamped, into its recording file.
// Each message carries the time of the call that sent it, taken before the text is formatted or
// sent.
#include <cstdarg>
#include <string>

#include "api/guard.h"
#include "control/control_state.h"
#include "control/messages.h"
#include "lumavex_core.h"

using lvx::api::guard;

namespace {

// Formats a message of any length and sends it.
LVX_PRINTF(2, 0)
int16_t send_formatted(int32_t exectime, const char *format, va_list args) noexcept {
  return guard(lvx::kBadText, [&] {
    const double when = lvx::message_time_after(exectime);
    if (format == nullptr) return lvx::kBadText;
    const std::string text = lvx::format_message(format, args);
    return lvx::send_message(text.c_str(), when);
  });
}

}  // namespace

extern "C" {

int16_t lumavex_send_message(const char *text) noexcept {
  return guard(lvx::kBadText, [&] { return lvx::send_message(text, lvx::message_time_after(0)); });
}

int16_t lumavex_send_message_ex(int32_t exectime, const char *text) noexcept {
  return guard(lvx::kBadText,
               [&] { return lvx::send_message(text, lvx::message_time_after(exectime)); });
}

int16_t eyemsg_printf(const char *format, ...) noexcept {
  va_list args;
  va_start(args, format);
  const int16_t result = send_formatted(0, format, args);
  va_end(args);
  return result;
}

int16_t eyemsg_printf_ex(int32_t exectime, const char *format, ...) noexcept {
  va_list args;
  va_start(args, format);
  const int16_t result = send_formatted(exectime, format, args);
  va_end(args);
  return result;
}

int16_t lumavex_node_send_message(const LVXADDR *node, const char *text) noexcept {
  return guard(lvx::kBadText,
               [&] { return lvx::send_node_message(node, text, lvx::message_time_after(0)); });
}

int16_t lumavex_node_send_message_ex(int32_t exectime, const LVXADDR *node,
                                     const char *text) noexcept {
  return guard(lvx::kBadText, [&] {
    return lvx::send_node_message(node, text, lvx::message_time_after(exectime));
  });
}

}  // extern "C"
