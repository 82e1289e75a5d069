#include "link/address.h"
#include "link/log.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/text.h"

namespace lvx {

LVXADDR make_address(const IPv4 &ip, uint16_t port) {
  LVXADDR a{};
  std::memcpy(a.addr, ip.data(), 4);
  a.port[0] = static_cast<uint8_t>(port >> 8);
  a.port[1] = static_cast<uint8_t>(port);
  return a;
}

IPv4 address_ip(const LVXADDR &a) {
  return {a.addr[0], a.addr[1], a.addr[2], a.addr[3]};
}

uint16_t address_port(const LVXADDR &a) {
  return static_cast<uint16_t>((a.port[0] << 8) | a.port[1]);
}

platform::Endpoint address_endpoint(const LVXADDR &a) {
  return platform::Endpoint{address_ip(a), address_port(a)};
}

LVXADDR endpoint_address(const platform::Endpoint &e) {
  return make_address(e.ip, e.port);
}

bool same_node(const LVXADDR &a, const LVXADDR &b) {
  return std::memcmp(a.addr, b.addr, 4) == 0 && std::memcmp(a.port, b.port, 2) == 0;
}

bool is_broadcast(const LVXADDR &a) {
  return a.addr[0] == 255 && a.addr[1] == 255 && a.addr[2] == 255 && a.addr[3] == 255;
}

namespace {

// strtol with base 0, refusing empty numbers and signs; *end points past the digits.
bool read_number(const char *p, const char **end, long *value) {
  if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
  char *e = nullptr;
  errno = 0;
  long v = std::strtol(p, &e, 0);
  if (errno != 0 || e == p) return false;
  *end = e;
  *value = v;
  return true;
}

}  // namespace

bool parse_dotted(std::string_view text, IPv4 *out) {
  if (text.empty() || text.size() > 63) return false;
  std::string copy(text);
  const char *p = copy.c_str();
  IPv4 ip{};
  for (size_t i = 0; i < 4; ++i) {
    long v = 0;
    const char *end = nullptr;
    if (!read_number(p, &end, &v) || v < 0 || v > 255) return false;
    ip[i] = static_cast<uint8_t>(v);
    p = end;
    if (i < 3) {
      if (*p != '.') return false;
      ++p;
    }
  }
  if (*p != '\0') return false;
  if (out) *out = ip;
  return true;
}

int parse_options(const char *text, TransportOptions *options) {
  if (text == nullptr) return 0;
  char buf[512];
  std::snprintf(buf, sizeof buf, "%s", text);
  char *save = nullptr;
  for (char *tok = strtok_r(buf, " \t\n", &save); tok != nullptr;
       tok = strtok_r(nullptr, " \t\n", &save)) {
    char *eq = std::strchr(tok, '=');
    if (eq != nullptr) {
      *eq = '\0';
      long v = std::strtol(eq + 1, nullptr, 0);
      if (equals_nocase(tok, "remport")) {
        options->remote_port = static_cast<uint16_t>(v);
        continue;
      }
      if (equals_nocase(tok, "eyeport")) {
        options->tracker_port = static_cast<uint16_t>(v);
        continue;
      }
      if (equals_nocase(tok, "tcpport")) {
        options->tracker_tcp_port = static_cast<uint16_t>(v);
        continue;
      }
      if (equals_nocase(tok, "fileport")) {
        options->file_service_port = static_cast<uint16_t>(v);
        continue;
      }
      if (equals_nocase(tok, "hiprio")) {
        options->high_priority = static_cast<int>(v);
        continue;
      }
      if (equals_nocase(tok, "loprio")) {
        options->low_priority = static_cast<int>(v);
        continue;
      }
    }
    console_printf("displayAPI: %s %d Error parsing options\n", __FILE__, __LINE__);
    return -1;
  }
  return 0;
}

void copy_node_name(char (&field)[40], const char *name) {
  std::memset(field, 0, sizeof field);
  if (name == nullptr) return;
  // At most 39 characters: the last byte stays the terminating zero.
  std::memcpy(field, name, strnlen(name, sizeof field - 1));
  for (size_t n = std::strlen(field); n > 0 && field[n - 1] == ' '; --n) field[n - 1] = '\0';
}

}  // namespace lvx
