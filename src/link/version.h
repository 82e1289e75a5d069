// Tracker generation and software version, learned from the connect reply.
#pragma once

#include <string>
#include <string_view>

namespace lvx {

struct TrackerVersion {
  int generation = 0;    // 0 none yet; 1 K, 2 KK, 3 RX, 4 T or TQ
  std::string text;      // model and version, e.g. "LUMAVEX RX 5.7"
  double value = 0.0;    // software version as a number, e.g. 5.7
  bool host_v5 = false;  // serves the TCP file service
  bool is_gen4 = false;
  bool is_tq = false;
  bool large_packets = false;  // accepts 1022-byte packets and 992-character texts
};

// The generation from the model character after "LUMAVEX " ('T' 4, 'K' 2, 'R' 3, else 1).
int generation_from_model_char(char c);

// Works out the version value and capability flags from the generation and version text.
TrackerVersion detect_version(int generation, std::string_view text);

// A minor version number scaled below 1: 7 -> 0.7, 56 -> 0.56, 123 -> 0.123, 1000 or more -> 0.
double scaled_minor(int minor);

}  // namespace lvx
