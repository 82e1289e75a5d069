#include "control/status.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "common/wire_reader.h"
#include "control/commands.h"
#include "control/control_state.h"
#include "link/log.h"
#include "link/transport.h"
#include "lumavex_core.h"

namespace lvx {

namespace {

enum StatusType : uint16_t {
  STAT_COMMAND_RESULT = 20,
  STAT_READ_REPLY = 21,
  STAT_COMMAND_RESULT_2 = 22,
  STAT_TIME_REPLY = 40,
  STAT_BITMAP_ACK = 50,
  STAT_SHOW_TARGET = 100,
  STAT_HIDE_TARGET = 101,
  CAL_INFO_FIX_ACCEPTED = 102,
  STAT_CAL_INFO = 103,
  STAT_MSG_LOST = 128,
  STAT_MENU_SELECTION = 150,
};

// Bytes a status packet counts for besides its text: command results, replies and time replies;
// target and calibration notices; acknowledgements, lost-message notices and menu selections.
constexpr int kResultOverhead = 34;
constexpr int kNoticeOverhead = 35;
constexpr int kCountedOverhead = 37;

constexpr char kShowFixpoint[] = "show_fixpoint";
constexpr size_t kShowFixpointLength = sizeof kShowFixpoint - 1;

// Copies a packet text into a fixed field, cut to leave room for the NUL that always ends it.
template <size_t N>
void copy_text(char (&field)[N], const char *text, int text_length) {
  size_t n = text_length < 0 ? 0 : static_cast<size_t>(text_length);
  if (n > N - 1) n = N - 1;
  if (n > 0) std::memcpy(field, text, n);
  field[n] = '\0';
}

// The target position of a "show target" notice: the two numbers after "show_fixpoint" when the
// text carries both, else the packet's two values.
void take_target_position(ControlState &s, const char *text, int text_length, uint16_t value1,
                          uint16_t value2) {
  std::string t(text, static_cast<size_t>(text_length));
  t.resize(std::strlen(t.c_str()));  // the text ends at its first NUL
  float x = 0;
  float y = 0;
  if (t.compare(0, kShowFixpointLength, kShowFixpoint) == 0 &&
      std::sscanf(t.c_str() + kShowFixpointLength, "%f%f", &x, &y) == 2) {
    s.target_x = x;
    s.target_y = y;
  } else {
    s.target_x = static_cast<float>(value1);
    s.target_y = static_cast<float>(value2);
  }
}

}  // namespace

int status_packet_size(uint16_t type, int text_length) {
  if (type >= STAT_SHOW_TARGET && type <= STAT_CAL_INFO) return text_length + kNoticeOverhead;
  if (type == STAT_BITMAP_ACK || type == STAT_MSG_LOST || type == STAT_MENU_SELECTION) {
    return text_length + kCountedOverhead;
  }
  return text_length + kResultOverhead;
}

void clear_user_menu_fields() {
  ControlState &s = control_state();
  s.menu = 0;
  s.menu_selection = 0;
  s.menu_selection_count = 0;
}

namespace {

// Mode words 5 to 8: the tracker shows one of its user menus.
constexpr unsigned kFirstUserMenuMode = 5, kLastUserMenuMode = 8;

bool in_user_menu(unsigned mode) {
  return mode >= kFirstUserMenuMode && mode <= kLastUserMenuMode;
}

}  // namespace

void on_tracker_mode_word(unsigned old_mode, unsigned new_mode) {
  // A user menu the tracker enters starts with no selection.
  if (in_user_menu(new_mode) && !in_user_menu(old_mode)) clear_user_menu_fields();
}

int apply_status_packet(ControlState &s, Bytes packet) {
  WireReader r(packet);
  const uint32_t serial = r.u32_at(status_pkt::kSerial);
  const uint32_t tracker_time = r.u32_at(status_pkt::kTrackerTime);
  const uint16_t type = r.u16_at(status_pkt::kType);
  const uint16_t value1 = r.u16_at(status_pkt::kValue1);
  const uint16_t value2 = r.u16_at(status_pkt::kValue2);
  const int length = r.u16_at(status_pkt::kTextLength);
  if (!r.ok()) {
    log_printf("Status packet of %d bytes is too short, dropped\n",
               static_cast<int>(packet.size()));
    return 0;
  }
  set_last_status_serial(serial);
  // A text cut short by the end of the buffer is taken as far as it goes (the values before it
  // are whole, and a command's result must not be lost for its text), and the cut is logged.
  const int available = static_cast<int>(packet.size() - status_pkt::kText);
  const int text_length = length < available ? length : available;
  if (text_length < length) {
    log_printf("Status packet type %d: text of %d bytes cut to %d\n", type, length, text_length);
  }
  const Bytes text_bytes = r.bytes_at(status_pkt::kText, static_cast<size_t>(text_length));
  const char *text = reinterpret_cast<const char *>(text_bytes.data());

  switch (type) {
    case STAT_COMMAND_RESULT:
    case STAT_COMMAND_RESULT_2:
      file_command_result(serial, static_cast<int16_t>(-static_cast<int16_t>(value1)), text,
                          text_length);
      break;
    case STAT_READ_REPLY:
      if (serial == s.request_serial) {
        copy_text(s.reply_text, text, text_length);
        s.reply_state = 0;
      }
      break;
    case STAT_TIME_REPLY:
      if (serial == s.time_serial) s.tracker_time = tracker_time;
      break;
    case STAT_BITMAP_ACK: {
      s.last_ack_serial = serial;
      auto acked = static_cast<int16_t>(value1);
      if (acked >= 0) {
        s.ack_count = static_cast<int16_t>(s.ack_count + acked);
      } else {
        s.ack_error = acked;
      }
      break;
    }
    case STAT_SHOW_TARGET:
      take_target_position(s, text, text_length, value1, value2);
      s.target_visible = 1;
      break;
    case STAT_HIDE_TARGET:
      s.target_visible = 0;
      break;
    case CAL_INFO_FIX_ACCEPTED:
    case STAT_MSG_LOST:
      break;
    case STAT_CAL_INFO:
      copy_text(s.cal_message, text, text_length);
      s.cal_result = static_cast<int16_t>(value1);
      break;
    case STAT_MENU_SELECTION:
      s.menu = static_cast<int16_t>(value1);
      s.menu_selection = static_cast<int16_t>(value2);
      ++s.menu_selection_count;
      break;
    default:
      lvx::log_printf("API-2516 Unhandled type %d STAT_MSG_LOST=%d CAL_INFO_FIX_ACCEPTED=%d\n",
                      type, STAT_MSG_LOST, CAL_INFO_FIX_ACCEPTED);
      lvx::log_printf("Unhandled type %d \n", type);
      break;
  }
  int used = status_packet_size(type, length);
  if (type == STAT_BITMAP_ACK || type == STAT_MSG_LOST || type == STAT_MENU_SELECTION) {
    lvx::log_printf("API-2516 Len = %d, ret = %d  \n", static_cast<int>(packet.size()), used);
  }
  return used;
}

int handle_status_packet(const LVXADDR & /*sender*/, Bytes packet) {
  return apply_status_packet(control_state(), packet);
}

}  // namespace lvx
