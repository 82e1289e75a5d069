#!/usr/bin/env bash
# Builds the consumer against an installed lumavex_core twice, with find_package(lumavex_core) and
# with pkg-config, and runs each against the installed simulated tracker:
#   build_installed.sh PREFIX WORK_DIRECTORY
# Meant to run as an ordinary user in a directory that user may write.
set -euo pipefail
prefix=$(cd "$1" && pwd)
work=$2
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work"

echo "-- with CMake: find_package(lumavex_core)"
cmake -S "$here" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/cmake"
"$here/run_consumer.sh" "$prefix/bin/lumavex_sim_tracker" "$work/cmake/lvx_consumer" 127.0.0.158

echo "-- with pkg-config"
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig${PKG_CONFIG_PATH:+:$PKG_CONFIG_PATH}"
pkg-config --exists --print-errors "lumavex_core >= 0.2"
libdir=$(pkg-config --variable=libdir lumavex_core)
# shellcheck disable=SC2046  # the flags are separate words
cc -std=c11 -Wall -Wextra -Werror -pedantic -o "$work/lvx_consumer_pc" "$here/consumer.c" \
  $(pkg-config --cflags --libs lumavex_core) -Wl,-rpath,"$libdir"
"$here/run_consumer.sh" "$prefix/bin/lumavex_sim_tracker" "$work/lvx_consumer_pc" 127.0.0.159
