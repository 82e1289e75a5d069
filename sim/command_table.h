// The commands the simulated tracker knows, the result it answers each with, and the per-test
// rules that override those answers. Pure: no sockets, no threads.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace lvxsim {

// Result codes a command is answered with (the display shows them negated back, see
// SimTracker's command handling).
inline constexpr int16_t kResultOk = 0;
inline constexpr int16_t kResultUnknownCommand = 1;
inline constexpr int16_t kResultBadValue = -3;

// How the tracker answers one command: the result, after how long, and with what reply text.
struct CommandRule {
  int16_t result = 0;
  int delay_ms = 0;   // 0: at once, from the receive thread
  bool reply = true;  // false: no answer at all
  std::string text;   // reply text carried in the result packet
};

// The command name: the first word of the text, ending at a blank (space, tab, line feed or
// carriage return), '=' or the end; leading blanks are skipped. Returned in lower case, since the
// tracker compares names without case.
std::string command_name(std::string_view text);

// True when the tracker knows the command with this name (any case).
bool is_known_command(std::string_view name);

// The tracker's own answer to a command text: 0 for a known command, 1 for an unknown one, -3
// for a "sample_rate" whose value is not a rate the camera runs at.
int16_t builtin_result(std::string_view text);

// Rules set by tests. A rule keyed by a whole command text wins over one keyed by a command
// name; both compare without case.
class CommandRules {
 public:
  void set(std::string_view key, CommandRule rule);
  void clear();
  bool empty() const { return rules_.empty(); }
  // The rule that applies to a command text, if any.
  std::optional<CommandRule> find(std::string_view text) const;

 private:
  std::map<std::string, CommandRule, std::less<>> rules_;  // keys in lower case
};

// How a command text is answered: the applicable rule, or the built-in result sent at once.
CommandRule answer_for(const CommandRules &rules, std::string_view text);

}  // namespace lvxsim
