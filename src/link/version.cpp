#include "link/version.h"

#include <cstdio>

namespace lvx {

int generation_from_model_char(char c) {
  switch (c) {
    case 'T':
      return 4;
    case 'K':
      return 2;
    case 'R':
      return 3;
    default:
      return 1;
  }
}

double scaled_minor(int minor) {
  if (minor < 10) return minor * 0.1;
  if (minor < 100) return minor * 0.01;
  if (minor < 1000) return minor * 0.001;
  return 0.0;
}

TrackerVersion detect_version(int generation, std::string_view text) {
  TrackerVersion v;
  v.generation = generation;
  v.text = std::string(text);
  const char *s = v.text.c_str();
  int major = 0;
  int minor = 0;
  if (generation == 4) {
    int read;
    if (v.text.find("LUMAVEX TQ") != std::string::npos) {
      v.is_tq = true;
      read = std::sscanf(s, "LUMAVEX TQ %d.%d", &major, &minor);
    } else {
      read = std::sscanf(s, "LUMAVEX T %d.%d", &major, &minor);
    }
    // A fourth-generation text without readable numbers leaves the value at 0.
    if (read == 2) {
      v.host_v5 = true;
      v.is_gen4 = true;
      v.value = major + scaled_minor(minor);
      v.large_packets = true;
    }
  } else if (generation == 3) {
    int read = std::sscanf(s, "LUMAVEX RX %d.%d", &major, &minor);
    v.host_v5 = read == 2 && major >= 5;
    v.value = major + scaled_minor(minor);
    if (v.host_v5) {
      v.large_packets = (v.value > 5.51 && v.value < 6.0) || v.value > 6.51;
    }
  } else {
    v.value = generation;
  }
  return v;
}

}  // namespace lvx
