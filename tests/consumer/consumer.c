/*
 * A typical experiment, small: connect to the tracker, configure it, open its recording file,
 * record two short trials with samples and events to the file and over the link, read the data
 * as it arrives (and the newest gaze position, as a gaze-contingent display would), note lost
 * data, close the file and disconnect. docs/guide.md walks through it step by step.
 *
 *   lvx_consumer ADDRESS[:PORT]      (lvx_consumer 10.77.1.1 for the lab's tracker)
 *
 * scripts/test.sh builds it against the installed package (with CMake and with pkg-config) and
 * runs it against the installed simulated tracker. It prints one line of results and exits 0
 * when both trials were recorded with both eyes and each brought at least 100 samples.
 */
#include <stdio.h>
#include <string.h>

#include "lumavex_core.h"

#define TRIALS 2
#define SAMPLES_PER_TRIAL 100 /* samples to read in each trial */
#define TRIAL_LIMIT_MS 2000   /* the longest a trial may take to bring them */
#define SLOTS 64              /* records taken from the queue at a time */

static int failed(const char *what, int result) {
  fprintf(stderr, "consumer: %s failed: %d (%s)\n", what, result,
          lumavex_get_error(result, "lumavex_timed_command"));
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

/* Step 1: connect. A tracker on a port other than 589 (a simulated one) is named in the link's
 * options, which open_lumavex_system takes before the connection is made. */
static int connect_to(const char *target) {
  char address[64];
  char options[32];
  char *colon;
  if (strlen(target) >= sizeof address) return -1;
  strcpy(address, target);
  colon = strchr(address, ':');
  if (colon != NULL) {
    snprintf(options, sizeof options, "eyeport=%s", colon + 1);
    *colon = '\0';
    if (open_lumavex_system(0, options) == 0) return -1; /* 0 is failure here */
  }
  if (set_lumavex_address(address) != 0) return -1;
  return open_lumavex_connection(LUMAVEX_OPEN_CONNECT);
}

/* Step 2: configure the tracker. Every command waits for the tracker's answer; 0 is success. */
static int configure(void) {
  const char *commands[] = {
      "screen_pixel_coords = 0 0 1023 767",
      "sample_rate 1000",
      "file_sample_data = LEFT,RIGHT,GAZE,AREA,STATUS",
      "link_sample_data = LEFT,RIGHT,GAZE,GAZERES,AREA,STATUS",
      "link_event_data = GAZE,GAZERES,AREA,VELOCITY,STATUS",
  };
  size_t i;
  int r;
  for (i = 0; i < sizeof commands / sizeof commands[0]; ++i) {
    r = lumavex_timed_command(1000, commands[i]);
    if (r != OK_RESULT) return failed(commands[i], r);
  }
  /* The tracker's recording file: "consumer.qrd" (the name is checked before it is sent). */
  r = open_data_file("consumer");
  if (r != OK_RESULT) return failed("open_data_file consumer", r);
  /* The screen as the analysis will need it, in the recording file. */
  eyemsg_printf("DISPLAY_COORDS 0 0 1023 767");
  return 0;
}

/* Step 3: one trial. Returns the samples read, or -1 when recording did not start. */
static int run_trial(int trial, int *eye, int *events, int *lost) {
  float_data slots[SLOTS];
  float_sample newest;
  int samples = 0, i, n;
  uint32_t start;

  eyemsg_printf("TRIALID %d", trial);
  if (lumavex_data_start(LUMAVEX_RECORD_ALL, 0) != 0) return -1;
  /* The first samples arrive after the tracker opens its blocks. */
  if (lumavex_wait_for_block_start(1000, 1, 1) != 1) return -1;
  *eye = lumavex_eye_available();
  eyemsg_printf("SYNCTIME");

  start = current_time();
  while (samples < SAMPLES_PER_TRIAL && current_time() - start < TRIAL_LIMIT_MS) {
    /* A gaze-contingent display would look at the newest sample only. */
    if (lumavex_newest_float_sample2(&newest) == 1 &&
        newest.gaze_x[LUMAVEX_EYE_LEFT] != MISSING_VALUE &&
        newest.gaze_x[LUMAVEX_EYE_LEFT] > 1023) {
      eyemsg_printf("GAZE_OFF_SCREEN %u", newest.time);
    }
    /* Everything in order: up to SLOTS records, waiting up to 5 rounds of 10 ms for the first. */
    n = lumavex_wait_for_next_data(slots, SLOTS, 5);
    for (i = 0; i < n; ++i) {
      switch (slots[i].head.type) {
        case EV_SAMPLE:
          ++samples;
          break;
        case EV_LOST_DATA:
          /* Data went missing just before this point: the trial's link data has a gap (the
           * tracker's file does not). */
          ++*lost;
          eyemsg_printf("LINK_DATA_LOST %u", slots[i].io.time);
          break;
        case STARTFIX:
        case ENDFIX:
        case STARTSACC:
        case ENDSACC:
        case STARTBLINK:
        case ENDBLINK:
          ++*events;
          break;
        default:
          break;
      }
    }
  }
  eyemsg_printf("TRIAL_RESULT %d", 0);
  if (lumavex_data_stop() != 0) return -1;
  return samples;
}

int main(int argc, char **argv) {
  char version[40] = "";
  int generation, trial, r, eye = LUMAVEX_EYE_NONE, events = 0, lost = 0;
  int samples[TRIALS];

  if (argc != 2) {
    fprintf(stderr, "usage: %s ADDRESS[:PORT]\n", argv[0]);
    return 2;
  }
  r = connect_to(argv[1]);
  if (r != 0) return failed("connecting", r);
  generation = lumavex_get_tracker_version(version);
  if (configure() != 0) return 1;

  for (trial = 1; trial <= TRIALS; ++trial) {
    samples[trial - 1] = run_trial(trial, &eye, &events, &lost);
    if (samples[trial - 1] < 0) return failed("recording", samples[trial - 1]);
  }

  /* Step 4: close the recording file and disconnect (close_lumavex_connection also idles the
   * tracker). */
  r = close_data_file();
  if (r != OK_RESULT) return failed("close_data_file", r);
  close_lumavex_connection();

  printf("consumer: generation=%d version=\"%s\" eye=%s samples=%d,%d events=%d lost=%d\n",
         generation, version, eye_name(eye), samples[0], samples[1], events, lost);
  return eye == LUMAVEX_EYE_BOTH && samples[0] >= SAMPLES_PER_TRIAL &&
                 samples[1] >= SAMPLES_PER_TRIAL
             ? 0
             : 1;
}
