// The tracker's command names and built-in answers, and the lookup of per-test rules.
#include "sim/command_table.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <iterator>

namespace lvxsim {

namespace {

// Every command the library sends on its own, and the everyday commands of experiment scripts,
// in lower case and sorted for a binary search.
constexpr std::string_view kKnownCommands[] = {
    "abort_file_transfer",
    "abort_playback",
    "accept_target_fixation",
    "add_file_preamble_text",
    "apply_last_drift_correction",
    "auto_calibration_messages",
    "automatic_calibration_pacing",
    "binocular_enabled",
    "button_function",
    "calibration_area_proportion",
    "calibration_type",
    "clear_screen",
    "close_data_file",
    "display_user_menu",
    "draw_box",
    "draw_cross",
    "draw_filled_box",
    "draw_image",
    "draw_line",
    "draw_link_crosshairs",
    "draw_text",
    "drift_correction_targets",
    "echo",
    "enable_automatic_calibration",
    "enable_eye_video_stream",
    "file_close_complete",
    "file_event_data",
    "file_event_filter",
    "file_sample_data",
    "generate_default_targets",
    "heuristic_filter",
    "link_event_data",
    "link_event_filter",
    "link_sample_data",
    "link_send_ellipse_parameters",
    "link_sync_status",
    "link_update_interval",
    "lock_record_exit",
    "long_filename_enabled",
    "lumavex_file_xfer_packets",
    "lvrx_global_image_extinfo",
    "open_data_file",
    "pupil_size_diameter",
    "record_status_message",
    "sample_rate",
    "screen_pixel_coords",
    "send_camera_image",
    "set_idle_mode",
    "set_imaging_mode",
    "set_offline_mode",
    "setup_menu_mode",
    "setup_mode_global_click",
    "start_bitmap_transfer",
    "start_drift_correction",
    "start_file_transfer",
    "start_playback",
    "start_recording",
    "stop_bitmap_transfer",
    "validation_area_proportion",
    "write_ioport",
};
static_assert(std::is_sorted(std::begin(kKnownCommands), std::end(kKnownCommands)));

// A line feed ends the name too: a multi-line text is still read by its first word.
bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char &c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The text after the command name and the blanks and '=' that separate it from its value.
std::string_view value_part(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && is_blank(text[i])) ++i;
  while (i < text.size() && !is_blank(text[i]) && text[i] != '=') ++i;
  while (i < text.size() && (is_blank(text[i]) || text[i] == '=')) ++i;
  return text.substr(i);
}

// The camera runs at these rates only; anything else is refused as a bad value.
bool is_sample_rate(std::string_view value) {
  while (!value.empty() && is_blank(value.back())) value.remove_suffix(1);
  int rate = 0;
  auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), rate);
  if (ec != std::errc() || end != value.data() + value.size()) return false;
  return rate == 250 || rate == 500 || rate == 1000 || rate == 2000;
}

}  // namespace

std::string command_name(std::string_view text) {
  size_t start = 0;
  while (start < text.size() && is_blank(text[start])) ++start;
  size_t end = start;
  while (end < text.size() && !is_blank(text[end]) && text[end] != '=') ++end;
  return lower(text.substr(start, end - start));
}

bool is_known_command(std::string_view name) {
  std::string key = lower(name);
  return std::binary_search(std::begin(kKnownCommands), std::end(kKnownCommands),
                            std::string_view(key));
}

int16_t builtin_result(std::string_view text) {
  std::string name = command_name(text);
  if (!is_known_command(name)) return kResultUnknownCommand;
  if (name == "sample_rate" && !is_sample_rate(value_part(text))) return kResultBadValue;
  return kResultOk;
}

void CommandRules::set(std::string_view key, CommandRule rule) {
  rules_[lower(key)] = std::move(rule);
}

void CommandRules::clear() {
  rules_.clear();
}

std::optional<CommandRule> CommandRules::find(std::string_view text) const {
  if (rules_.empty()) return std::nullopt;
  auto whole = rules_.find(lower(text));
  if (whole != rules_.end()) return whole->second;
  auto named = rules_.find(command_name(text));
  if (named != rules_.end()) return named->second;
  return std::nullopt;
}

CommandRule answer_for(const CommandRules &rules, std::string_view text) {
  if (auto rule = rules.find(text)) return *rule;
  CommandRule builtin;
  builtin.result = builtin_result(text);
  return builtin;
}

}  // namespace lvxsim
