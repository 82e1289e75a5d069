#!/usr/bin/env bash
# Builds and runs every test: the plain build with warnings as errors, the same under
# AddressSanitizer and UndefinedBehaviorSanitizer, the threaded and hostile-network tests under
# ThreadSanitizer, the fuzz targets for a short fixed time, and the formatting check.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)

step() { printf '\n==== %s\n' "$*"; }

step "format check"
files=$(git ls-files '*.h' '*.cpp' '*.c' 2>/dev/null || find include src sim tests bench fuzz examples -name '*.[ch]*')
clang-format --dry-run --Werror $files

step "build: debug, warnings as errors"
cmake -S . -B build/debug -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/debug -j"$jobs"
step "tests: debug"
ctest --test-dir build/debug -j"$jobs" --output-on-failure --timeout 120

step "build: address and undefined-behaviour sanitizers"
cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DLVX_SANITIZE=address -DLVX_BUILD_BENCH=OFF >/dev/null
cmake --build build/asan -j"$jobs"
step "tests: address and undefined-behaviour sanitizers"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/asan -j"$jobs" --output-on-failure --timeout 180

step "build: thread sanitizer"
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DLVX_SANITIZE=thread -DLVX_BUILD_BENCH=OFF >/dev/null
cmake --build build/tsan -j"$jobs"
step "tests: thread sanitizer (threaded and hostile-network tests)"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build/tsan -L "threaded|hostile" -j"$jobs" --output-on-failure --timeout 180

if [ -d fuzz ] && ls fuzz/*.cpp >/dev/null 2>&1; then
  step "fuzz targets (short runs)"
  CC=clang CXX=clang++ cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=Debug -DLVX_BUILD_FUZZ=ON \
    -DLVX_BUILD_TESTS=OFF -DLVX_BUILD_BENCH=OFF >/dev/null
  cmake --build build/fuzz -j"$jobs"
  ctest --test-dir build/fuzz -L fuzz --output-on-failure
fi

step "all test stages passed"
