/*
 * A small experiment program that uses the library as an installed package: it connects to the
 * tracker, sets up the screen, records one short trial with samples and events over the link,
 * reads the samples as they arrive, and stops. Built against an installed tree it proves the
 * header, the library and the package files work together (scripts/test.sh, "installed").
 *
 *   lvx_consumer ADDRESS[:PORT]
 *
 * Prints one line of results and exits 0 when the trial was recorded with both eyes and at least
 * 100 samples arrived.
 */
#include <stdio.h>
#include <string.h>

#include "lumavex_core.h"

/* Samples that must arrive, and the most time they may take. */
#define SAMPLES_WANTED 100
#define READ_LIMIT_MS 2000

static int failed(const char *what, int result) {
  fprintf(stderr, "consumer: %s failed: %d\n", what, result);
  close_lumavex_connection();
  return 1;
}

static const char *eye_name(int eye) {
  switch (eye) {
    case LUMAVEX_EYE_LEFT:
      return "left";
    case LUMAVEX_EYE_RIGHT:
      return "right";
    case LUMAVEX_EYE_BOTH:
      return "both";
    default:
      return "none";
  }
}

int main(int argc, char **argv) {
  char address[64] = "";
  char options[32] = "";
  char version[40] = "";
  char *colon;
  int generation, eye, samples = 0, events = 0, lost = 0, i, n, r;
  uint32_t start;
  float_data slots[64];

  if (argc != 2 || strlen(argv[1]) >= sizeof address) {
    fprintf(stderr, "usage: %s ADDRESS[:PORT]\n", argv[0]);
    return 2;
  }
  strcpy(address, argv[1]);
  colon = strchr(address, ':');
  if (colon != NULL) {
    /* A tracker on a port other than 589 (a simulated one) is named in the link's options. */
    snprintf(options, sizeof options, "eyeport=%s", colon + 1);
    *colon = '\0';
    if (open_lumavex_system(0, options) == 0) return failed("open_lumavex_system", 0);
  }
  if (set_lumavex_address(address) != 0) return failed("set_lumavex_address", -1);
  r = open_lumavex_connection(LUMAVEX_OPEN_CONNECT);
  if (r != 0) return failed("open_lumavex_connection", r);
  generation = lumavex_get_tracker_version(version);

  r = lumavex_timed_command(1000, "screen_pixel_coords = 0 0 1023 767");
  if (r != OK_RESULT) return failed("screen_pixel_coords", r);
  eyemsg_printf("DISPLAY_COORDS 0 0 1023 767");
  eyemsg_printf("TRIALID %d", 1);

  r = lumavex_data_start(LUMAVEX_RECORD_ALL, 0);
  if (r != 0) return failed("lumavex_data_start", r);
  if (lumavex_wait_for_block_start(1000, 1, 1) != 1)
    return failed("lumavex_wait_for_block_start", 0);
  if ((lumavex_current_mode() & IN_RECORD_MODE) == 0) return failed("recording mode", 0);
  eye = lumavex_eye_available();

  start = current_time();
  while (samples < SAMPLES_WANTED && current_time() - start < READ_LIMIT_MS) {
    n = lumavex_wait_for_next_data(slots, 64, 5);
    for (i = 0; i < n; ++i) {
      if (slots[i].head.type == EV_SAMPLE) {
        ++samples;
      } else if (slots[i].head.type == EV_LOST_DATA) {
        ++lost;
      } else {
        ++events;
      }
    }
  }
  eyemsg_printf("TRIAL_RESULT %d", 0);
  r = lumavex_data_stop();
  if (r != 0) return failed("lumavex_data_stop", r);
  close_lumavex_connection();

  printf("consumer: generation=%d version=\"%s\" eye=%s samples=%d events=%d lost=%d\n", generation,
         version, eye_name(eye), samples, events, lost);
  return eye == LUMAVEX_EYE_BOTH && samples >= SAMPLES_WANTED ? 0 : 1;
}
