#!/usr/bin/env bash
# Builds the library, the simulated tracker and the demo, then runs the demo against a simulated
# tracker started on loopback. The build's output is shown only when the build fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh demo
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DLVX_BUILD_TESTS=OFF \
         -DLVX_BUILD_BENCH=OFF &&
       cmake --build build/release -j"$(nproc)" --target lumavex_demo; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "demo: the build failed (its output is above)" >&2
  exit 1
fi
rm -f "$log"
trap - EXIT
exec build/release/examples/lumavex_demo "$@"
