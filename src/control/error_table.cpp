#include "lumavex_core.h"

extern "C" const char *lumavex_get_error(int, const char *) {
  return nullptr;
}
