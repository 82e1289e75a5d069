/*
 * The smallest complete program: connect to a tracker at the address given on the command line,
 * report who answered, exchange a node message, disconnect.
 *
 *   lumavex_c_connect 127.0.0.2        (the tracker's usual port)
 *   lumavex_c_connect 127.0.0.2:40123  (a simulated tracker on a port of its own)
 *
 * Exits 0 when the connection worked.
 */
#include <stdio.h>
#include <string.h>

#include "lumavex_core.h"

int main(int argc, char **argv) {
  char version[40] = "";
  char address[64] = "";
  char options[32] = "";
  const char *greeting = "hello from C";
  const char *colon;
  LVXADDR tracker;

  if (argc < 2 || strlen(argv[1]) >= sizeof address) {
    fprintf(stderr, "usage: %s TRACKER_ADDRESS[:PORT]\n", argv[0]);
    return 2;
  }
  strcpy(address, argv[1]);
  colon = strchr(address, ':');
  if (colon != NULL) {
    /* The tracker's UDP port, when it is not the usual one, goes in the link's options. */
    snprintf(options, sizeof options, "eyeport=%s", colon + 1);
    address[colon - address] = '\0';
    if (open_lumavex_system(0, options) == 0) {
      fprintf(stderr, "could not open the link\n");
      return 1;
    }
  }
  if (set_lumavex_address(address) != 0) {
    fprintf(stderr, "bad address %s\n", address);
    return 2;
  }
  if (open_lumavex_connection(0) != 0) {
    fprintf(stderr, "could not connect to %s\n", argv[1]);
    return 1;
  }
  printf("connected=%d generation=%d", lumavex_is_connected(),
         lumavex_get_tracker_version(version));
  printf(" version=\"%s\"\n", version);

  text_to_lvxaddr(address, &tracker, 0);
  if (lumavex_node_send(&tracker, greeting, (uint16_t)strlen(greeting)) != 0) {
    fprintf(stderr, "node message failed\n");
    close_lumavex_connection();
    return 1;
  }
  msec_delay(20);
  printf("tracker clock offset %.3f ms\n", lumavex_double_msec_offset());
  close_lumavex_connection();
  return lumavex_is_connected() == 0 ? 0 : 1;
}
