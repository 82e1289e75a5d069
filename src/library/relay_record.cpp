// ---- Process-wide record kept by the owner: the inter-process relay's ----
//
// The relay's state (relay/relay_state.h) lives here, with the other records the owner builds
// and never destroys: the relay's threads and the receive thread may still run while the process
// exits.
#include "relay/relay_state.h"

namespace lvx {

RelayState &relay_state() {
  static auto *state = new RelayState;
  return *state;
}

}  // namespace lvx
