// Exported message-file functions.
#include <cstdarg>
#include <string>

#include "api/guard.h"
#include "control/message_file.h"
#include "control/messages.h"
#include "lumavex_core.h"

using lvx::api::guard;
using lvx::api::guard_void;

extern "C" {

int16_t open_message_file(const char *path) noexcept {
  return guard(int16_t{-1}, [&] { return lvx::open_message_file(path); });
}

void close_message_file(void) noexcept {
  guard_void([] { lvx::close_message_file(); });
}

int16_t timemsg_printf(uint32_t t, const char *format, ...) noexcept {
  if (format == nullptr) return -1;
  std::string text;
  va_list args;
  va_start(args, format);
  try {
    text = lvx::format_message(format, args);
  } catch (...) {
    va_end(args);
    return -1;
  }
  va_end(args);
  return guard(int16_t{-1}, [&] { return lvx::time_message(t, text); });
}

}  // extern "C"
