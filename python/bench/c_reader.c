/*
 * The C reader the Python benchmark compares with: takes records from the library's queue the
 * way a C experiment does (batches of float_data slots), until it has read max_samples samples
 * or the queue is empty, touching each sample's gaze as the Python readers do. Loaded into the
 * benchmark's own process, beside the library the package loaded.
 */
#include "lumavex_core.h"

#define SLOTS 512

static float_data slots[SLOTS];
double lvx_bench_gaze_sum;

long lvx_bench_drain(long max_samples) {
  long samples = 0;
  double sum = 0;
  while (samples < max_samples) {
    int n = lumavex_get_all_float_data(slots, SLOTS);
    if (n <= 0) break;
    for (int i = 0; i < n; ++i) {
      if (slots[i].head.type == EV_SAMPLE) {
        ++samples;
        sum += slots[i].fs.gaze_x[LUMAVEX_EYE_LEFT];
      }
    }
  }
  lvx_bench_gaze_sum = sum;
  return samples;
}
