#!/usr/bin/env bash
# Builds the fuzz build (clang, libFuzzer with the address and undefined-behaviour sanitizers) and
# runs every fuzz target in turn, for longer than the short runs of scripts/test.sh. Not part of
# CI.
#
#   scripts/fuzz.sh [SECONDS] [--runs N] [--only TARGET] [--update-corpus]
#
#   SECONDS          how long each target runs (default 60)
#   --runs N         run each target for N executions instead
#   --only TARGET    run only that target (may be given more than once)
#   --update-corpus  merge what the runs found into the committed corpus fuzz/corpus/<target>/
#                    (only inputs that add coverage); without it the corpus is only read
#
# Each target starts from its committed corpus and seeds written by the simulated tracker's packet
# builders. New inputs go to build/fuzz/found/<target>/, which is kept from run to run; a crash is
# written to build/fuzz/crashes/<target>/ and the script goes on with the next target. At the end
# it prints each target's executions and outcome, and exits 1 when any target failed.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() { sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; }

seconds=60
runs=""
update=0
only=()
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift ;;
    --only) only+=("$2"); shift ;;
    --update-corpus) update=1 ;;
    -h | --help) usage; exit 0 ;;
    *[!0-9]* | "") echo "fuzz: unknown argument '$1'" >&2; usage >&2; exit 2 ;;
    *) seconds="$1" ;;
  esac
  shift
done

build=build/fuzz
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DLVX_BUILD_FUZZ=ON \
  -DLVX_BUILD_TESTS=OFF -DLVX_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"

# The targets, as fuzz/CMakeLists.txt lists them.
read -r -a targets <<<"$(sed -n 's/^set(lvx_fuzz_targets \(.*\))$/\1/p' fuzz/CMakeLists.txt)"
if [ ${#only[@]} -gt 0 ]; then targets=("${only[@]}"); fi

if [ -n "$runs" ]; then
  limit=(-runs="$runs")
  length="$runs runs"
else
  limit=(-max_total_time="$seconds")
  length="$seconds s"
fi
summary=()
failed=0
for t in "${targets[@]}"; do
  bin="$build/fuzz/$t"
  if [ ! -x "$bin" ]; then
    echo "fuzz: no target $t" >&2
    failed=1
    continue
  fi
  corpus="fuzz/corpus/$t"
  seeds="$build/seeds/$t"
  found="$build/found/$t"
  crashes="$build/crashes/$t"
  log="$build/logs/$t.log"
  mkdir -p "$corpus" "$seeds" "$found" "$crashes" "$(dirname "$log")"
  "$build/fuzz/lvx_fuzz_make_seeds" "$seeds" "$t"
  echo "==== $t ($length; log in $log)"
  outcome=ok
  # New finds go into the first directory; the committed corpus and the seeds are only read.
  if ! "$bin" "$found" "$corpus" "$seeds" "${limit[@]}" -timeout=5 -rss_limit_mb=2048 \
    -artifact_prefix="$crashes/" -print_final_stats=1 >"$log" 2>&1; then
    outcome="FAILED (see $log and $crashes/)"
    failed=1
  fi
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [ "$update" -eq 1 ] && [ "$outcome" = ok ]; then
    before=$(find "$corpus" -type f | wc -l)
    "$bin" -merge=1 -use_counters=0 "$corpus" "$found" >>"$log" 2>&1
    outcome="ok, corpus $before -> $(find "$corpus" -type f | wc -l) files"
  fi
  summary+=("$(printf '%-22s %12s executions  %s' "$t" "${executions:-?}" "$outcome")")
done

echo
printf '%s\n' "${summary[@]}"
exit "$failed"
