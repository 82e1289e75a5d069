/*
 * Ends the process without closing the link, in the situation named on the command line, to show
 * that the library's exit step lets such a process exit normally with its own status:
 *
 *   lvx_exit_c SITUATION TRACKER_ADDRESS[:PORT]
 *
 *   failed-connect  the connect fails (nothing answers at the address); exit(3)
 *   connected       connected; exit(4)
 *   streaming       recording, samples read over the link; exit(5)
 *   other-thread    recording; a second thread calls exit(6) while the thread that opened the
 *                   link keeps reading samples
 *
 * It prints "exit at_ns=N" (the wall clock just before exit() is called) so that the caller can
 * time the whole exit, and "exit steps took T ms" from an exit handler that runs after the
 * library's. Any other status means the situation could not be set up (1) or was used wrongly (2).
 */
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "lumavex_core.h"

enum {
  kSetupFailed = 1,
  kUsage = 2,
  kFailedConnect = 3,
  kConnected = 4,
  kStreaming = 5,
  kOtherThread = 6
};

/* Samples read before exiting while streaming. */
#define SAMPLES_BEFORE_EXIT 5

static struct timespec exit_called;

static double ms_between(const struct timespec *from, const struct timespec *to) {
  return (double)(to->tv_sec - from->tv_sec) * 1e3 + (double)(to->tv_nsec - from->tv_nsec) / 1e6;
}

/* Registered before the library's first use, so that it runs after the library's exit step. */
static void report_exit_steps(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  printf("exit steps took %.1f ms\n", ms_between(&exit_called, &now));
  fflush(stdout);
}

static void exit_now(int status) {
  struct timespec wall;
  clock_gettime(CLOCK_REALTIME, &wall);
  printf("exit status=%d at_ns=%lld\n", status,
         (long long)wall.tv_sec * 1000000000LL + (long long)wall.tv_nsec);
  fflush(stdout);
  clock_gettime(CLOCK_MONOTONIC, &exit_called);
  exit(status);
}

/* ADDRESS or ADDRESS:PORT; a port is given to the library as its tracker port option. */
static int connect_to(const char *target) {
  char address[64];
  char options[32];
  const char *colon = strchr(target, ':');
  size_t n = colon ? (size_t)(colon - target) : strlen(target);
  if (n >= sizeof address) return 0;
  memcpy(address, target, n);
  address[n] = '\0';
  if (colon) {
    snprintf(options, sizeof options, "eyeport=%s", colon + 1);
    if (open_lumavex_system(0, options) == 0) return 0;
  }
  if (set_lumavex_address(address) != 0) {
    fprintf(stderr, "bad address %s\n", address);
    return 0;
  }
  return open_lumavex_connection(0) == 0;
}

/* Starts recording with samples and events over the link and reads a few samples. */
static int start_streaming(void) {
  int samples = 0;
  uint32_t start;
  if (lumavex_data_start(0x0C, 0) != 0) {
    fprintf(stderr, "data start failed\n");
    return 0;
  }
  if (lumavex_wait_for_block_start(2000, 1, 1) != 1) {
    fprintf(stderr, "no sample block started\n");
    return 0;
  }
  start = current_time();
  while (samples < SAMPLES_BEFORE_EXIT && current_time() - start < 2000) {
    if (lumavex_wait_for_data(100, 1, 0) != 1) continue;
    if (lumavex_get_next_data(NULL) == EV_SAMPLE) ++samples;
  }
  printf("read %d samples\n", samples);
  return samples == SAMPLES_BEFORE_EXIT;
}

static void *exit_from_here(void *unused) {
  (void)unused;
  msec_delay(50);
  exit_now(kOtherThread);
  return NULL;
}

int main(int argc, char **argv) {
  const char *situation;
  if (argc < 3) {
    fprintf(stderr, "usage: %s failed-connect|connected|streaming|other-thread ADDRESS[:PORT]\n",
            argv[0]);
    return kUsage;
  }
  situation = argv[1];
  atexit(report_exit_steps);

  if (strcmp(situation, "failed-connect") == 0) {
    if (connect_to(argv[2])) {
      fprintf(stderr, "a tracker answered at %s\n", argv[2]);
      return kSetupFailed;
    }
    printf("connect failed, connected=%d\n", lumavex_is_connected());
    exit_now(kFailedConnect);
  }
  if (!connect_to(argv[2])) return kSetupFailed;
  printf("connected=%d\n", lumavex_is_connected());
  if (strcmp(situation, "connected") == 0) exit_now(kConnected);
  if (!start_streaming()) return kSetupFailed;
  if (strcmp(situation, "streaming") == 0) exit_now(kStreaming);

  if (strcmp(situation, "other-thread") == 0) {
    pthread_t exiter;
    uint32_t start = current_time();
    if (pthread_create(&exiter, NULL, exit_from_here, NULL) != 0) return kSetupFailed;
    /* Keep using the link until the other thread's exit ends the process. */
    while (current_time() - start < 5000) {
      if (lumavex_wait_for_data(10, 1, 1) == 1) lumavex_get_next_data(NULL);
    }
    fprintf(stderr, "still running 5 s after the other thread called exit()\n");
    return kSetupFailed;
  }
  fprintf(stderr, "unknown situation %s\n", situation);
  return kUsage;
}
