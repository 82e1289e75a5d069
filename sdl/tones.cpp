// The sounds of the setup screens as short generated tones.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "lumavex_sdl.h"

namespace lvxsdl {

namespace {

struct Note {
  double hz;
  int ms;
};

// Sine notes one after the other, each faded in and out over 5 ms so that it does not click.
std::vector<int16_t> notes(std::initializer_list<Note> list, int rate) {
  std::vector<int16_t> out;
  constexpr double kLevel = 0.3 * 32767;
  for (const Note &n : list) {
    const int count = n.ms * rate / 1000;
    const int fade = std::max(1, 5 * rate / 1000);
    for (int i = 0; i < count; ++i) {
      const double envelope =
          std::min({1.0, static_cast<double>(i) / fade, static_cast<double>(count - 1 - i) / fade});
      const double phase = 2.0 * std::numbers::pi * n.hz * i / rate;
      out.push_back(static_cast<int16_t>(std::lround(kLevel * envelope * std::sin(phase))));
    }
  }
  return out;
}

}  // namespace

std::vector<int16_t> tone(int code, int rate) {
  if (rate < 1000) return {};
  switch (code) {
    case LUMAVEX_SOUND_TARGET_SHOWN:
      return notes({{1000, 60}}, rate);
    case LUMAVEX_SOUND_DRIFT_TARGET:
      return notes({{800, 60}}, rate);
    case LUMAVEX_SOUND_CAL_DONE:
    case LUMAVEX_SOUND_DRIFT_DONE:
      return notes({{660, 90}, {990, 120}}, rate);
    case LUMAVEX_SOUND_CAL_FAILED:
    case LUMAVEX_SOUND_DRIFT_FAILED:
      return notes({{220, 300}}, rate);
    default:
      return {};
  }
}

}  // namespace lvxsdl
