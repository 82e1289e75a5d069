#include "relay/relay.h"

namespace lvx {

void register_relay_services(const RelayServices &services) {
  relay_state().services = services;
}

int32_t relay_mode() {
  return relay_state().ipc_mode;
}

}  // namespace lvx
