#include "control/keys.h"

#include <atomic>

namespace lvx {

namespace {
std::atomic<bool> g_terminal_break{false};
}

void clear_key_state() {}

void clear_terminal_break() {
  g_terminal_break = false;
}

// Key packets are taken whole; their keys are not queued yet.
int handle_key_packet(const unsigned char * /*p*/, int /*remaining*/) {
  return 0;
}

}  // namespace lvx
