// Key scripts: the words of --keys turned into steps.
#include <SDL.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <sstream>

#include "lumavex_sdl.h"

namespace lvxsdl {

namespace {

struct Named {
  const char *name;
  int32_t key;
};

constexpr Named kNamedKeys[] = {
    {"enter", SDLK_RETURN},
    {"return", SDLK_RETURN},
    {"esc", SDLK_ESCAPE},
    {"escape", SDLK_ESCAPE},
    {"space", SDLK_SPACE},
    {"tab", SDLK_TAB},
    {"backspace", SDLK_BACKSPACE},
    {"up", SDLK_UP},
    {"down", SDLK_DOWN},
    {"left", SDLK_LEFT},
    {"right", SDLK_RIGHT},
    {"pageup", SDLK_PAGEUP},
    {"pagedown", SDLK_PAGEDOWN},
    {"home", SDLK_HOME},
    {"end", SDLK_END},
    {"f1", SDLK_F1},
    {"f2", SDLK_F2},
    {"f3", SDLK_F3},
    {"f4", SDLK_F4},
    {"f5", SDLK_F5},
    {"f6", SDLK_F6},
    {"f7", SDLK_F7},
    {"f8", SDLK_F8},
    {"f9", SDLK_F9},
    {"f10", SDLK_F10},
    {"f11", SDLK_F11},
    {"f12", SDLK_F12},
};

// "500ms", "2s", "1.5s": milliseconds, or -1.
int pause_ms(const std::string &w) {
  double scale = 0;
  std::string number;
  if (w.size() > 2 && w.compare(w.size() - 2, 2, "ms") == 0) {
    scale = 1;
    number = w.substr(0, w.size() - 2);
  } else if (w.size() > 1 && w.back() == 's') {
    scale = 1000;
    number = w.substr(0, w.size() - 1);
  } else {
    return -1;
  }
  if (number.empty() || number.find_first_not_of("0123456789.") != std::string::npos) return -1;
  char *end = nullptr;
  const double v = std::strtod(number.c_str(), &end);
  if (end == nullptr || *end != '\0' || !std::isfinite(v) || v * scale > 3600e3) return -1;
  return static_cast<int>(std::lround(v * scale));
}

// "mouse:X,Y" into (x, y).
bool pointer_at(const std::string &w, int *x, int *y) {
  if (w.compare(0, 6, "mouse:") != 0) return false;
  std::istringstream in(w.substr(6));
  char comma = 0;
  char extra = 0;
  return static_cast<bool>(in >> *x >> comma >> *y) && comma == ',' && !(in >> extra) && *x >= 0 &&
         *y >= 0 && *x <= 32767 && *y <= 32767;
}

}  // namespace

bool parse_script(const std::string &text, std::vector<ScriptStep> *steps, std::string *error) {
  std::istringstream in(text);
  std::vector<ScriptStep> out;
  std::string w;
  while (in >> w) {
    ScriptStep s;
    s.text = w;
    std::string lower = w;
    for (char &c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const Named *named = nullptr;
    for (const Named &n : kNamedKeys) {
      if (lower == n.name) named = &n;
    }
    if (named != nullptr) {
      s.kind = ScriptStep::Kind::kKey;
      s.key = named->key;
    } else if (w.size() == 1 && w[0] > ' ' && w[0] <= '~') {
      s.kind = ScriptStep::Kind::kKey;
      const auto c = static_cast<unsigned char>(w[0]);
      s.key = std::tolower(c);
      if (std::isupper(c)) s.modifiers = KMOD_LSHIFT;
    } else if (lower == "@camera") {
      s.kind = ScriptStep::Kind::kWaitCamera;
    } else if (lower == "@target") {
      s.kind = ScriptStep::Kind::kWaitTarget;
    } else if (pointer_at(lower, &s.x, &s.y)) {
      s.kind = ScriptStep::Kind::kPointer;
    } else if ((s.ms = pause_ms(lower)) >= 0) {
      s.kind = ScriptStep::Kind::kPause;
    } else {
      if (error != nullptr)
        *error = "not a key, pause, mouse:X,Y, @camera or @target: \"" + w + "\"";
      return false;
    }
    out.push_back(std::move(s));
  }
  *steps = std::move(out);
  return true;
}

}  // namespace lvxsdl
