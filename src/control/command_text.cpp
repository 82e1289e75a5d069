#include "control/command_text.h"

#include <algorithm>

namespace lvx {

namespace {

bool quoted_by(std::string_view text, char quote) {
  size_t first = text.find(quote);
  return first != std::string_view::npos && text.find(quote, first + 1) != std::string_view::npos;
}

}  // namespace

bool has_line_break(std::string_view text) {
  for (size_t i = 1; i < text.size(); ++i) {
    if (text[i] == '\n' && text[i - 1] != '\n') return true;
  }
  return false;
}

std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

bool has_quoted_part(std::string_view text) {
  return quoted_by(text, '"') || quoted_by(text, '\'');
}

std::vector<std::string> command_pieces(std::string_view text, int text_limit) {
  std::vector<std::string> pieces;
  if (text_limit == 248 && !has_quoted_part(text) && has_line_break(text)) {
    for (std::string_view line : split_lines(text)) pieces.emplace_back(line);
  } else {
    pieces.emplace_back(text);
  }
  return pieces;
}

WaitedCommand classify_command(std::string_view text, bool tracker_is_gen4) {
  if (tracker_is_gen4 && contains_nocase(text, "sample_rate")) return WaitedCommand::kSampleRate;
  if (contains_nocase(text, "enable_eye_video_stream") &&
      (contains_nocase(text, "yes") || text.find('1') != std::string_view::npos)) {
    return WaitedCommand::kEyeVideoOn;
  }
  return WaitedCommand::kNone;
}

unsigned waited_command_timeout_ms(WaitedCommand kind) {
  switch (kind) {
    case WaitedCommand::kSampleRate:
      return 30000;
    case WaitedCommand::kEyeVideoOn:
      return 10000;
    case WaitedCommand::kNone:
      break;
  }
  return 0;
}

}  // namespace lvx
