/*
 * A relay slave for the relay tests: joins the relay master of the working folder with
 * open_lumavex_connection(2) and does one thing, printing what it saw as lines on standard
 * output (flushed at once, so that the test reads them as they come):
 *
 *   samples            every sample "s <time> <gaze x> <gaze y>" until the stream's closing
 *                      marker ("block end"), "lost" for a lost-data record; then waits for the
 *                      master to close the link
 *   hold               waits for the master to close the link (or to be killed)
 *   message            sends "slave now" and, 200 ms early, "slave early"; tries the command
 *                      "slave_command" ("command <result>")
 *   request TEXT       a read request ("request <result>"), then "reply <text>" or "noreply"
 *   watch SECONDS      "reply <text>" when a read-request reply for this slave comes within the
 *                      time, else "noreply"
 *   master ADDR PORT   tries to become a second relay master with a tracker of its own
 *                      ("master <result>")
 *
 * "--base1" before the mode sets the machine-wide clock base first. Every slave prints "open
 * <result>" after opening and "end" after closing. Every wait is bounded; the exit status is 0
 * unless opening failed.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "lumavex_core.h"

/* The longest any wait of this program takes, in milliseconds. */
#define LONGEST_WAIT_MS 30000

static void wait_for_link_end(void) {
  int waited;
  for (waited = 0; waited < LONGEST_WAIT_MS && lumavex_is_connected() != 0; waited += 5) {
    msec_delay(5);
  }
}

static void read_samples(void) {
  float_data slot;
  unsigned start = current_time();
  while (current_time() - start < LONGEST_WAIT_MS) {
    int type = lumavex_get_next_data(NULL);
    if (type == 0) {
      msec_delay(1);
      continue;
    }
    if (type == EV_SAMPLE_BLOCK_END) break;
    if (type == EV_LOST_DATA) {
      printf("lost\n");
    } else if (type == EV_SAMPLE) {
      lumavex_get_float_data(&slot);
      printf("s %u %.3f %.3f\n", slot.fs.time, slot.fs.gaze_x[1], slot.fs.gaze_y[1]);
    }
  }
  printf("block end\n");
  wait_for_link_end();
}

static void watch_reply(unsigned ms) {
  char reply[256];
  unsigned start = current_time();
  while (current_time() - start < ms) {
    if (lumavex_read_reply(reply) == 0) {
      printf("reply %s\n", reply);
      return;
    }
    msec_delay(5);
  }
  printf("noreply\n");
}

int main(int argc, char **argv) {
  int arg = 1;
  int r;
  const char *mode;
  setvbuf(stdout, NULL, _IOLBF, 0);
  if (arg < argc && strcmp(argv[arg], "--base1") == 0) {
    lumavex_set_clock_base(QX_CLOCK_BASE_MACHINE_LOCAL);
    ++arg;
  }
  if (arg >= argc) {
    fprintf(stderr, "usage: %s [--base1] MODE [ARGS]\n", argv[0]);
    return 2;
  }
  mode = argv[arg++];

  if (strcmp(mode, "master") == 0 && arg + 1 < argc) {
    /* A second master with a tracker of its own, in the same folder as the first. */
    char options[64];
    snprintf(options, sizeof options, "eyeport=%s remport=0", argv[arg + 1]);
    open_lumavex_system(0, options);
    set_lumavex_address(argv[arg]);
    r = open_lumavex_connection(LUMAVEX_OPEN_MASTER);
    printf("master %d\n", r);
    close_lumavex_connection();
    return 0;
  }

  /* A port the system chooses: a slave never uses the link socket, and many may run at once. */
  open_lumavex_system(0, "remport=0");
  r = open_lumavex_connection(LUMAVEX_OPEN_SLAVE);
  /* Delivery is on before the test hears of the open, so that no sample it streams is missed. */
  if (r == 0) lumavex_data_switch(0x0C);
  printf("open %d\n", r);
  if (r != 0) return 1;

  if (strcmp(mode, "samples") == 0) {
    read_samples();
  } else if (strcmp(mode, "hold") == 0) {
    wait_for_link_end();
  } else if (strcmp(mode, "message") == 0) {
    lumavex_send_message("slave now");
    lumavex_send_message_ex(-200, "slave early");
    printf("command %d\n", lumavex_send_command("slave_command"));
  } else if (strcmp(mode, "request") == 0 && arg < argc) {
    printf("request %d\n", lumavex_read_request(argv[arg]));
    watch_reply(3000);
  } else if (strcmp(mode, "watch") == 0 && arg < argc) {
    watch_reply((unsigned)atoi(argv[arg]) * 1000u);
  }
  close_lumavex_connection();
  printf("end\n");
  return 0;
}
