#!/usr/bin/env bash
# Builds the benchmarks in release mode and runs them. Each prints its figures beside a
# baseline measured in the same run.
#
# The command round trip runs with three thread placements (see the benchmark's header):
# split, with the tracker side on a processor of its own as if it were its own computer; one,
# with every thread on one processor; and free, where the scheduler decides and the figures
# jump between runs on virtual machines.
#
# The data stream benchmark (sample delivery latency, loss over a minute, decode throughput) runs
# once, with the tracker side on a processor of its own; the latency and loss measurements run
# over UDP and, in a child process, over TCP-only, and are reported side by side. It takes about
# four minutes. The tracker-clock benchmark (the estimate against the tracker's true clock,
# without and with send jitter) runs once the same way; it takes about 75 seconds. The relay
# benchmark (sample delivery latency to two slave processes beside the master's own, 2000 Hz)
# runs once the same way, for 10 s. The Python
# reading benchmark takes about 25 seconds. The gaze arithmetic benchmark (velocity and
# href-to-gaze per sample) takes a few seconds. The backdrop benchmark (the pixel pipeline on a
# 1920 x 1080 image, and its whole transfer over the file service and over the link) takes about
# ten seconds. The live window (the camera view's frame time, and the latency from a sample's
# arrival to its cursor on screen) runs on a virtual X server it starts itself, for 10 s.
# Arguments go to the command round trip only.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh bench
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DLVX_BUILD_TESTS=OFF >/dev/null
cmake --build build/bench -j"$(nproc)" --target bench_command_round_trip bench_data_stream \
  bench_tracker_clock bench_camera_view bench_gaze_arithmetic bench_backdrop bench_live_view \
  bench_relay lumavex_core lumavex_sim_tracker
for placement in split one free; do
  echo "==== command round trip, placement $placement"
  build/bench/bench/bench_command_round_trip --placement=$placement "$@"
done
echo "==== data stream, placement split"
build/bench/bench/bench_data_stream --placement=split
echo "==== tracker clock, placement split"
build/bench/bench/bench_tracker_clock --placement=split
echo "==== camera view: decompression and the camera-view frame rate"
build/bench/bench/bench_camera_view --seconds=5
echo "==== relay: latency to two slaves beside the master's, placement split"
build/bench/bench/bench_relay --placement=split
echo "==== gaze arithmetic: velocity and href-to-gaze per sample"
build/bench/bench/bench_gaze_arithmetic
echo "==== backdrop images: the pixel pipeline and the whole transfer over each path"
build/bench/bench/bench_backdrop
echo "==== Python: reading the data stream through the iterator and the batch read, beside C"
LUMAVEX_CORE_LIBRARY=build/bench/src/liblumavex_core.so \
  LUMAVEX_SIM_TRACKER=build/bench/sim/lumavex_sim_tracker PYTHONDONTWRITEBYTECODE=1 \
  /usr/bin/python3 python/bench/bench_read.py
echo "==== live window: camera-view frame time and gaze latency, under Xvfb"
build/bench/bench/bench_live_view --seconds=5
