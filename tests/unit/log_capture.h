// Reads back what the library logged during a test. The log opens once per process, so every test
// in the process shares one file and reads only what was added after its mark.
#pragma once

#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "lumavex_core.h"

namespace testlog {

inline const std::string &path() {
  static const std::string p = [] {
    std::string file = "/tmp/lvx_unit_" + std::to_string(getpid()) + ".log";
    lumavex_set_log(file.c_str());
    return file;
  }();
  return p;
}

// True when this process's log is the file above (another test may have opened another one).
inline bool available() {
  std::ifstream in(path());
  std::string first;
  std::getline(in, first);
  return first.find(path()) != std::string::npos;
}

inline std::string all() {
  std::ifstream in(path());
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class Mark {
 public:
  Mark() : start_(all().size()) {}
  std::string since() const { return all().substr(start_); }

 private:
  size_t start_;
};

}  // namespace testlog
