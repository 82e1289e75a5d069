// How message texts become message packets: multi-line texts are split into lines (and, on
// trackers with large packets, packed back into packets of several lines), and texts longer than
// one stored message are sent as a long message in numbered pieces. Also the pacing that keeps
// bursts of messages from flooding the link. No link access here: the caller supplies the send.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace lvx {

// Characters one stored message holds; longer texts always travel as a long message.
constexpr size_t kStoredMessageChars = 248;
// Characters of one long-message piece, prefix included.
constexpr size_t kLongPieceChars = 247;

// Identity shared by every piece of one long message: a random byte and a counter.
struct LongMessageId {
  uint32_t random = 0;
  uint32_t count = 0;
};

// "!V LONGMS_ST_<r><n> " for the first piece, "!V LONGMS_CONT_<r><n> " for the others, both
// numbers in lower-case hexadecimal.
std::string long_message_prefix(bool first_piece, LongMessageId id);

// The sending side that the splitter drives.
struct MessageSink {
  // Sends one message packet holding text; returns 0 or the link's error code.
  std::function<int(std::string_view text)> send;
  // The identity for the next long message.
  std::function<LongMessageId()> next_long_id;
};

// Splits text for a tracker whose texts hold `text_limit` bytes with their zero (248 or 992) and
// sends the pieces in order. Returns 0 or the last failure code. Every line is sent, however many
// the text has.
int split_and_send(std::string_view text, int text_limit, const MessageSink &sink);

// Sends text as one long message. With a 992-byte limit up to four pieces share a packet, one per
// line. Returns the result of the last send.
int send_long_message(std::string_view text, int text_limit, const MessageSink &sink);

// Message pacing: a window opens with a message and counts the ones that follow within 5 ms.
// More than 15 in the window's first millisecond, or more than 40 in all, must wait 1 ms; at 4 ms
// a busy window is restarted without waiting.
class MessagePacer {
 public:
  // Counts a message sent at now_ms. True when the caller must wait 1 ms and then restart().
  bool admit(uint32_t now_ms);
  // Opens a new window at now_ms.
  void restart(uint32_t now_ms);

 private:
  uint32_t window_start_ = 0;  // 0: no window yet
  int count_ = 0;
};

}  // namespace lvx
