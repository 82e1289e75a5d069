#include "display/alert.h"

#include <cstdarg>
#include <cstdio>

namespace lvx {

void alert(const char *format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  std::fprintf(stderr, "Lumavex Error: %s\n", text);
  std::fflush(stderr);
}

}  // namespace lvx
