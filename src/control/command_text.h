// Rules about command and message texts that do not depend on the link: where a text breaks into
// lines, whether it holds a quoted part, and which commands the sender waits for.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"

namespace lvx {

// True when some line feed in text ends a non-empty line.
bool has_line_break(std::string_view text);

// The non-empty lines of text, split at line feeds, in order.
std::vector<std::string_view> split_lines(std::string_view text);

// True when text holds a quoted part: a double quote followed later by another, or a single
// quote followed later by another.
bool has_quoted_part(std::string_view text);

// How a command is formatted into commands: a text of several lines with no quoted part is sent
// line by line when the tracker takes at most `text_limit` = 248 bytes; any other text is one
// command. Every line is kept, however many there are.
std::vector<std::string> command_pieces(std::string_view text, int text_limit);

// Commands whose result the sender waits for before it returns.
enum class WaitedCommand {
  kNone,
  kEyeVideoOn,  // switching the eye-video stream on: up to 10 s
  kSampleRate,  // changing the sample rate of a fourth-generation tracker: up to 30 s
};
WaitedCommand classify_command(std::string_view text, bool tracker_is_gen4);
// The longest wait for a waited command's result, in milliseconds.
unsigned waited_command_timeout_ms(WaitedCommand kind);

}  // namespace lvx
