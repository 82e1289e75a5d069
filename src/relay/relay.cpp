#include "relay/relay.h"

namespace lvx {

bool register_relay_services(const RelayServices &services) {
  RelayServices &held = relay_state().services;
  if (services.route_message == nullptr || services.read_request == nullptr ||
      services.set_request_serial == nullptr || held.route_message != nullptr) {
    return false;
  }
  held = services;
  return true;
}

int32_t relay_mode() {
  return relay_state().ipc_mode;
}

const char *relay_failure() {
  return relay_state().failure.load();
}

}  // namespace lvx
