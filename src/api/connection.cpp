// Exported connection functions: opening and closing the link system and the connection, the
// tracker's address and version, polls and node messages, name and quiet mode.
#include <cstring>

#include "api/guard.h"
#include "library/lifecycle.h"
#include "link/connection.h"
#include "link/transport.h"
#include "lumavex_core.h"

using lvx::api::guard;
using lvx::api::guard_void;

extern "C" {

int16_t open_lumavex_connection(int16_t mode) noexcept {
  return guard(int16_t{-1}, [&] { return lvx::open_connection(mode); });
}

void close_lumavex_connection(void) noexcept {
  guard_void([] { lvx::close_connection(); });
}

// -1 on success, 0 on failure.
int16_t open_lumavex_system(uint16_t bufsize, const char *options) noexcept {
  return guard(int16_t{0}, [&] { return lvx::open_system(bufsize, options); });
}

void close_lumavex_system(void) noexcept {
  guard_void([] { lvx::close_system(); });
}

int16_t lumavex_open(void) noexcept {
  return guard(int16_t{LINK_TERMINATED_RESULT}, [] { return lvx::open_tracker(); });
}

int16_t lumavex_open_node(const LVXADDR *node, int16_t busytest) noexcept {
  return guard(int16_t{LINK_TERMINATED_RESULT}, [&] { return lvx::open_node(node, busytest); });
}

int16_t lumavex_broadcast_open(void) noexcept {
  return guard(int16_t{LINK_TERMINATED_RESULT}, [] { return lvx::broadcast_open(); });
}

int16_t lumavex_dummy_open(void) noexcept {
  return guard(int16_t{-1}, [] { return lvx::dummy_open(); });
}

int16_t lumavex_close(int16_t /*send_msg*/) noexcept {
  return guard(int16_t{0}, [] { return lvx::close_link(); });
}

int16_t lumavex_is_connected(void) noexcept {
  return guard(int16_t{0}, [] { return lvx::connection_state(); });
}

uint16_t lumavex_tracker_mode(void) noexcept {
  return guard(uint16_t{0}, [] { return lvx::tracker_mode_word(); });
}

int16_t lumavex_get_tracker_version(char *text) noexcept {
  return guard(int16_t{0}, [&] { return lvx::tracker_version(text); });
}

void lumavex_set_name(const char *name) noexcept {
  guard_void([&] { lvx::set_own_name(name); });
}

int16_t lumavex_quiet_mode(int16_t level) noexcept {
  return guard(int16_t{0}, [&] { return lvx::set_quiet_level(level); });
}

void lumavex_dll_version(char *text) noexcept {
  guard_void([&] {
    if (text != nullptr) std::strcpy(text, LUMAVEX_LIBRARY_VERSION_TEXT);
  });
}

int16_t text_to_lvxaddr(const char *text, LVXADDR *addr, int16_t remote) noexcept {
  return guard(int16_t{-1}, [&] {
    return lvx::address_from_text(text, remote != 0, addr) ? int16_t{0} : int16_t{-1};
  });
}

int16_t set_lumavex_address(const char *text) noexcept {
  return guard(int16_t{-1}, [&] {
    LVXADDR a{};
    if (!lvx::address_from_text(text, false, &a)) return int16_t{-1};
    return lvx::set_tracker_node(&a);
  });
}

int16_t lumavex_set_tracker_node(const LVXADDR *node) noexcept {
  return guard(int16_t{-1}, [&] { return lvx::set_tracker_node(node); });
}

int16_t set_lumavex_tcp_only(int /*enable*/) noexcept {
  return guard(int16_t{-1}, [] { return lvx::set_tcp_only() ? int16_t{0} : int16_t{-1}; });
}

int16_t lumavex_poll_trackers(void) noexcept {
  return guard(int16_t{-1}, [] { return lvx::poll_nodes(0); });
}

int16_t lumavex_poll_remotes(void) noexcept {
  return guard(int16_t{-1}, [] { return lvx::poll_nodes(1); });
}

int16_t lumavex_poll_responses(void) noexcept {
  return guard(int16_t{0}, [] { return lvx::poll_response_count(); });
}

int16_t lumavex_get_node(int16_t resp, LVXNODE *out) noexcept {
  return guard(int16_t{-1}, [&] { return lvx::get_node(resp, out); });
}

int16_t lumavex_node_send(const LVXADDR *node, const void *data, uint16_t size) noexcept {
  return guard(int16_t{-1}, [&] { return lvx::node_send(node, data, size); });
}

int16_t lumavex_node_receive(LVXADDR *sender, void *data) noexcept {
  return guard(int16_t{0}, [&] { return lvx::node_receive(sender, data); });
}

}  // extern "C"
