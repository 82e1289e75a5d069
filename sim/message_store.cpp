// Splitting message packets into stored messages and joining long messages.
#include "sim/message_store.h"

#include <algorithm>

namespace lvxsim {

namespace {

// A long-message piece: its id and the text after the prefix and the one blank that ends the id.
struct Piece {
  std::string_view id;
  std::string_view text;
};

bool is_lower_hex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

// Reads a line that opens with `prefix`, an id of at least one lower-case hex digit and a blank.
bool parse_piece(std::string_view line, std::string_view prefix, Piece *out) {
  if (line.substr(0, prefix.size()) != prefix) return false;
  size_t end = prefix.size();
  while (end < line.size() && is_lower_hex(line[end])) ++end;
  if (end == prefix.size() || end >= line.size() || line[end] != ' ') return false;
  out->id = line.substr(prefix.size(), end - prefix.size());
  out->text = line.substr(end + 1);
  return true;
}

}  // namespace

std::vector<size_t> MessageStore::add(std::string_view text, int64_t time_ms, int32_t offset_ms,
                                      uint32_t serial) {
  std::vector<size_t> touched;
  auto touch = [&touched](size_t at) {
    if (std::find(touched.begin(), touched.end(), at) == touched.end()) touched.push_back(at);
  };
  size_t start = 0;
  while (start <= text.size()) {
    size_t lf = text.find('\n', start);
    if (lf == std::string_view::npos) lf = text.size();
    std::string_view line = text.substr(start, lf - start);
    start = lf + 1;
    if (line.empty()) continue;

    Piece piece;
    if (parse_piece(line, kLongContPrefix, &piece)) {
      auto open = open_long_.find(piece.id);
      if (open != open_long_.end()) {
        messages_[open->second].text.append(piece.text);
        touch(open->second);
        continue;
      }
      // No long message of that id is open: the line is kept as it stands.
    } else if (parse_piece(line, kLongStartPrefix, &piece)) {
      // A later opening with the same id starts a new long message.
      open_long_.insert_or_assign(std::string(piece.id), messages_.size());
      messages_.push_back({std::string(piece.text), time_ms, offset_ms, serial});
      touch(messages_.size() - 1);
      continue;
    }
    messages_.push_back({std::string(line), time_ms, offset_ms, serial});
    touch(messages_.size() - 1);
  }
  return touched;
}

void MessageStore::clear() {
  messages_.clear();
  open_long_.clear();
}

}  // namespace lvxsim
