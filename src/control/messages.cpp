#include "lumavex_core.h"

extern "C" {
int16_t lumavex_send_message(const char *) {
  return 0;
}
int16_t lumavex_send_message_ex(int32_t, const char *) {
  return 0;
}
int16_t eyemsg_printf(const char *, ...) {
  return 0;
}
int16_t eyemsg_printf_ex(int32_t, const char *, ...) {
  return 0;
}
int16_t lumavex_node_send_message(const LVXADDR *, const char *) {
  return 0;
}
int16_t lumavex_node_send_message_ex(int32_t, const LVXADDR *, const char *) {
  return 0;
}
int16_t lumavex_wait_for_command_result(uint32_t) {
  return 0;
}
int16_t eyecmd_printf(const char *, ...) {
  return 0;
}
int16_t lumavex_last_message(char *) {
  return 0;
}
}
