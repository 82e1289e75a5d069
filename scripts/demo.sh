#!/usr/bin/env bash
# Builds the library, the simulated tracker and the demo, then runs the demo against a simulated
# tracker started on loopback.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DLVX_BUILD_TESTS=OFF -DLVX_BUILD_BENCH=OFF >/dev/null
cmake --build build/release -j"$(nproc)" --target lumavex_demo
exec build/release/examples/lumavex_demo "$@"
