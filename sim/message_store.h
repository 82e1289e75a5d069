// The messages the simulated tracker keeps, the way its recording file holds them: one entry per
// line of text, with long messages that arrive in pieces joined back into one entry. Pure: no
// sockets, no threads; the tracker guards it with its own lock.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace lvxsim {

// One message as the tracker stores it.
struct RecordedMessage {
  std::string text;
  int64_t time_ms = 0;    // the tracker's receive time in ms plus the packet's offset
  int32_t offset_ms = 0;  // the time offset the packet carried
  uint32_t serial = 0;    // the packet's message serial number
};

// A long message arrives as lines "!V LONGMS_ST_<id> <text>" then "!V LONGMS_CONT_<id> <text>",
// <id> being lower-case hexadecimal; the pieces' texts are joined without separators.
inline constexpr std::string_view kLongStartPrefix = "!V LONGMS_ST_";
inline constexpr std::string_view kLongContPrefix = "!V LONGMS_CONT_";

class MessageStore {
 public:
  // Stores the text of one message packet stamped at time_ms: each non-empty line is one
  // message, except that long-message pieces join their long message. A long message keeps the
  // stamp, serial and position of its opening piece; a continuation whose long message was never
  // opened is stored as it stands. Returns the positions of the messages added or extended, each
  // once, in the order first touched.
  std::vector<size_t> add(std::string_view text, int64_t time_ms, int32_t offset_ms,
                          uint32_t serial);

  const std::vector<RecordedMessage> &messages() const { return messages_; }
  size_t size() const { return messages_.size(); }
  void clear();

 private:
  std::vector<RecordedMessage> messages_;
  std::map<std::string, size_t, std::less<>> open_long_;  // id -> position of its message
};

}  // namespace lvxsim
