#include "display/alert.h"

#include <cstdarg>
#include <cstdio>

#include "display/graphic_hooks.h"

namespace lvx {

void alert(const char *format, ...) {
  // A buffer of its own rather than alert_printf's, so library alerts from any thread stay whole.
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  hook_alert(text);
}

}  // namespace lvx
