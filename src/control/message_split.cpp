#include "control/message_split.h"

#include <cstdio>

#include "control/command_text.h"
#include "link/log.h"
#include "lumavex_core.h"

namespace lvx {

namespace {

constexpr int kSmallLimit = 248;
// A packet of long-message pieces takes another piece while this much room is left after it.
constexpr size_t kPieceRoom = 43;

// Sends one packet; a failure is logged and becomes the result.
void send_counted(const MessageSink &sink, std::string_view text, int &result) {
  int r = sink.send(text);
  if (r != 0) {
    lvx::log_printf("Failed to send message %d \n", r);
    result = r;
  }
}

// Packs the lines of a multi-line text into packets of at most `limit` bytes, one line per
// packet line. Lines too long for one stored message go out as long messages of their own.
int pack_lines(std::string_view text, int limit, const MessageSink &sink) {
  int result = 0;
  std::string buffer;
  for (std::string_view line : split_lines(text)) {
    if (line.size() > kStoredMessageChars) {
      if (!buffer.empty()) {
        send_counted(sink, buffer, result);
        buffer.clear();
      }
      // The long message reports its own failures; it does not change the result.
      send_long_message(line, limit, sink);
      continue;
    }
    if (buffer.size() + 1 + line.size() + 1 > static_cast<size_t>(limit)) {
      send_counted(sink, buffer, result);
      buffer.clear();
    }
    if (!buffer.empty()) buffer += '\n';
    buffer += line;
  }
  if (!buffer.empty()) send_counted(sink, buffer, result);
  return result;
}

}  // namespace

std::string long_message_prefix(bool first_piece, LongMessageId id) {
  char prefix[48];
  std::snprintf(prefix, sizeof prefix, first_piece ? "!V LONGMS_ST_%x%x " : "!V LONGMS_CONT_%x%x ",
                id.random, id.count);
  return prefix;
}

int send_long_message(std::string_view text, int text_limit, const MessageSink &sink) {
  LongMessageId id = sink.next_long_id();
  int result = 0;
  std::string buffer;
  size_t pos = 0;
  bool first = true;
  auto flush = [&](const std::string &packet) {
    result = sink.send(packet);
    if (result != 0) console_printf("Failed to send message %d \n", result);
  };
  while (pos < text.size()) {
    std::string piece = long_message_prefix(first, id);
    first = false;
    size_t take = std::min(text.size() - pos, kLongPieceChars - piece.size());
    piece.append(text.substr(pos, take));
    pos += take;
    if (text_limit <= kSmallLimit) {
      flush(piece);
      continue;
    }
    if (!buffer.empty()) buffer += '\n';
    buffer += piece;
    bool more = pos < text.size();
    if (!more || buffer.size() + 1 + kPieceRoom >= static_cast<size_t>(text_limit)) {
      flush(buffer);
      buffer.clear();
    }
  }
  return result;
}

int split_and_send(std::string_view text, int text_limit, const MessageSink &sink) {
  if (text_limit <= kSmallLimit) {
    if (has_line_break(text)) {
      int result = 0;
      for (std::string_view line : split_lines(text)) {
        int r = split_and_send(line, text_limit, sink);
        if (r != 0) {
          lvx::log_printf("Failed to send message %d \n", r);
          result = r;
        }
      }
      return result;
    }
    if (text.size() < kStoredMessageChars) return sink.send(text);
    return send_long_message(text, text_limit, sink);
  }
  bool single_line = text.find('\n') == std::string_view::npos;
  if (single_line && text.size() < static_cast<size_t>(text_limit)) {
    if (text.size() <= kStoredMessageChars) return sink.send(text);
    return send_long_message(text, text_limit, sink);
  }
  if (!has_line_break(text)) return send_long_message(text, text_limit, sink);
  return pack_lines(text, text_limit, sink);
}

bool MessagePacer::admit(uint32_t now_ms) {
  uint32_t elapsed = now_ms - window_start_;
  if (window_start_ == 0 || elapsed >= 5) {
    restart(now_ms);
    return false;
  }
  ++count_;
  if (count_ <= 15) return false;
  if (elapsed == 0 || count_ > 40) return true;
  if (elapsed == 4 && count_ < 40) restart(now_ms);
  return false;
}

void MessagePacer::restart(uint32_t now_ms) {
  window_start_ = now_ms;
  count_ = 0;
}

}  // namespace lvx
