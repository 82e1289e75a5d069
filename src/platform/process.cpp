#include "platform/process.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace lvx::platform {

const std::string &command_line() {
  // Never destroyed: the receive thread may be the first to read it, after the library's exit
  // step was registered, and a static destroyed at exit would then go before that thread stops.
  static const std::string *line = [] {
    std::string raw;
    if (FILE *f = std::fopen("/proc/self/cmdline", "rb")) {
      char chunk[4096];
      size_t n;
      while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) raw.append(chunk, n);
      std::fclose(f);
    }
    while (!raw.empty() && raw.back() == '\0') raw.pop_back();
    for (char &c : raw)
      if (c == '\0') c = ' ';
    return new std::string(std::move(raw));
  }();
  return *line;
}

std::optional<std::string> env_value(const char *name) {
  const char *v = std::getenv(name);
  if (v == nullptr) return std::nullopt;
  return std::string(v);
}

uint32_t process_id() {
  return static_cast<uint32_t>(::getpid());
}

std::optional<std::string> host_name() {
  char buf[HOST_NAME_MAX + 1] = {};
  if (gethostname(buf, sizeof buf - 1) != 0) return std::nullopt;
  return std::string(buf);
}

const char *build_date() {
  return __DATE__;
}
const char *build_time() {
  return __TIME__;
}

}  // namespace lvx::platform
