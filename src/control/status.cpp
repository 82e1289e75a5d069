#include "control/status.h"

#include "common/byte_io.h"
#include "control/commands.h"
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

// User-menu fields, written by the receive thread under the link lock.
struct MenuState {
  int menu = 0;
  int selection = 0;
  int selection_count = 0;
};

MenuState &menu_state() {
  static MenuState m;
  return m;
}

bool handled_type(uint16_t type) {
  switch (type) {
    case STAT_COMMAND_RESULT:
    case STAT_READ_REPLY:
    case STAT_COMMAND_RESULT_2:
    case STAT_TIME_REPLY:
    case STAT_BITMAP_ACK:
    case STAT_SHOW_TARGET:
    case STAT_HIDE_TARGET:
    case CAL_INFO_FIX_ACCEPTED:
    case STAT_CAL_INFO:
    case STAT_MSG_LOST:
    case STAT_MENU_SELECTION:
      return true;
    default:
      return false;
  }
}

}  // namespace

int status_packet_size(uint16_t type, int text_length) {
  if (type >= STAT_SHOW_TARGET && type <= STAT_CAL_INFO) return text_length + 35;
  if (type == STAT_BITMAP_ACK || type == STAT_MSG_LOST || type == STAT_MENU_SELECTION) {
    return text_length + 37;
  }
  return text_length + 34;
}

void clear_user_menu_fields() {
  menu_state() = MenuState{};
}

int handle_status_packet(const uint8_t *data, int remaining) {
  Bytes p(data, static_cast<size_t>(remaining));
  uint32_t serial = get_u32(p, 4);
  uint16_t type = get_u16(p, 20);
  uint16_t value1 = get_u16(p, 22);
  uint16_t value2 = get_u16(p, 24);
  int length = get_u16(p, 30);
  set_last_status_serial(serial);
  int available = remaining - 32 < 0 ? 0 : remaining - 32;
  const char *text = reinterpret_cast<const char *>(data) + 32;
  int text_length = length < available ? length : available;

  switch (type) {
    case STAT_COMMAND_RESULT:
    case STAT_COMMAND_RESULT_2:
      file_command_result(serial, static_cast<int16_t>(-static_cast<int16_t>(value1)), text,
                          text_length);
      break;
    case STAT_MENU_SELECTION: {
      MenuState &m = menu_state();
      m.menu = value1;
      m.selection = value2;
      ++m.selection_count;
      break;
    }
    default:
      if (!handled_type(type)) {
        add_to_lumavex_log("API-2516 Unhandled type %d STAT_MSG_LOST=%d CAL_INFO_FIX_ACCEPTED=%d\n",
                           type, STAT_MSG_LOST, CAL_INFO_FIX_ACCEPTED);
        add_to_lumavex_log("Unhandled type %d \n", type);
      }
      break;
  }
  int used = status_packet_size(type, length);
  if (type == STAT_BITMAP_ACK || type == STAT_MSG_LOST || type == STAT_MENU_SELECTION) {
    add_to_lumavex_log("API-2516 Len = %d, ret = %d  \n", remaining, used);
  }
  return used;
}

}  // namespace lvx
