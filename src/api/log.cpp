// Exported log functions.
#include <cstdarg>

#include "api/guard.h"
#include "link/log.h"
#include "lumavex_core.h"

using lvx::api::guard;

extern "C" {

int16_t lumavex_set_log(const char *path) noexcept {
  return guard(int16_t{-1}, [&] { return lvx::set_log(path); });
}

void add_to_lumavex_log(const char *format, ...) noexcept {
  if (format == nullptr) return;
  va_list args;
  va_start(args, format);
  lvx::api::guard_void([&] { lvx::vlog_printf(format, args); });
  va_end(args);
}

}  // extern "C"
