#!/usr/bin/env bash
# Builds lumavex_live (installing what it needs first, like the other scripts) and runs it against
# the simulated tracker it starts itself, in a window on the display that DISPLAY names:
#
#   scripts/live.sh                          camera setup, then live gaze, until Escape
#   scripts/live.sh --gaze --seconds 8       eight seconds of live gaze
#   scripts/live.sh --gaze --mouse-gaze      the simulated eye looks where the mouse points
#   scripts/live.sh --setup --drift          camera setup and calibration, then a drift correction
#
# Every argument goes to lumavex_live after --sim (see examples/lumavex_live.cpp). The build's
# output is shown only when the build fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
if [ -z "${DISPLAY:-}" ]; then
  echo "live: no display (DISPLAY is not set); on a machine without one: xvfb-run -a $0 $*" >&2
  exit 1
fi
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DLVX_BUILD_TESTS=OFF \
         -DLVX_BUILD_BENCH=OFF &&
       cmake --build build/release -j"$(nproc)" --target lumavex_live; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "live: the build failed (its output is above)" >&2
  exit 1
fi
rm -f "$log"
trap - EXIT
exec build/release/examples/lumavex_live --sim "$@"
