#!/usr/bin/env bash
# Builds the benchmarks in release mode and runs them. Each prints its figures beside a
# baseline measured in the same run.
#
# The command round trip is run twice: pinned to one processor, where the figures are steady
# because every hand-over between threads stays on that processor, and free, where the
# scheduler may move threads between processors (on virtual machines a wake-up on another,
# idle processor costs tens of microseconds, and both figures then jump between runs).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DLVX_BUILD_TESTS=OFF >/dev/null
cmake --build build/bench -j"$(nproc)" --target bench_command_round_trip
echo "==== command round trip, pinned to processor 0"
taskset -c 0 build/bench/bench/bench_command_round_trip "$@"
echo "==== command round trip, unpinned"
build/bench/bench/bench_command_round_trip "$@"
