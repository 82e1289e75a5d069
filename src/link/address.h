// Node addresses: LVXADDR construction and comparison, dotted-text parsing and the transport's
// options text. All pure functions.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "lumavex_core.h"
#include "platform/net.h"

namespace lvx {

using IPv4 = std::array<uint8_t, 4>;

LVXADDR make_address(const IPv4 &ip, uint16_t port);
IPv4 address_ip(const LVXADDR &a);
uint16_t address_port(const LVXADDR &a);
platform::Endpoint address_endpoint(const LVXADDR &a);
LVXADDR endpoint_address(const platform::Endpoint &e);
// Two addresses name the same node when address and port (the first six bytes) agree.
bool same_node(const LVXADDR &a, const LVXADDR &b);
bool is_broadcast(const LVXADDR &a);

// Parses exactly four numbers separated by '.', each read with automatic base (decimal,
// 0x-hexadecimal, 0-octal) and each in 0..255, with nothing after the fourth. False on bad text.
bool parse_dotted(std::string_view text, IPv4 *out);

// The transport's settings that the options text can change.
struct TransportOptions {
  uint16_t remote_port = LUMAVEX_REMOTE_PORT;    // "remport": our own UDP port
  uint16_t tracker_port = LUMAVEX_TRACKER_PORT;  // "eyeport"
  int high_priority = 15;                        // "hiprio": receive thread while data flows
  int low_priority = 1;                          // "loprio": receive thread at start and idle
  // The tracker's TCP link port ("tcpport"). Fixed on real trackers; the key lets a program
  // point the library at a simulated tracker listening on a port the system chose.
  uint16_t tracker_tcp_port = LUMAVEX_TRACKER_TCP_PORT;
  // The tracker's TCP file service for downloads and uploads ("fileport"), likewise.
  uint16_t file_service_port = 3873;
};

// Parses key=value tokens separated by blanks, tabs and newlines (at most 511 characters are
// read). Keys compare without case; values use automatic base. A token without '=' or with an
// unknown key prints a parse error and stops with -1; keys read before it keep their values.
int parse_options(const char *text, TransportOptions *options);

// Copies a node name into a 40-byte field: at most 40 bytes, byte 39 forced to NUL, then
// trailing blanks cut.
void copy_node_name(char (&field)[40], const char *name);

}  // namespace lvx
