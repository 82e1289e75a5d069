// Work done when the library is loaded into a process, before the application's first call.
#include "link/clock.h"
#include "lumavex_core.h"

namespace lvx {

// Referenced from the clock so that a program linking the static library pulls in this file,
// and with it the load work below, as the shared library always does.
void library_load_anchor() {}

}  // namespace lvx

namespace {

// Start the local clock now, so that every time the application reads counts from the same zero
// point from the start.
__attribute__((constructor)) void on_library_load() {
  lumavex_reset_clock(1);
}

}  // namespace
