#!/usr/bin/env bash
# Runs one exit program in one situation and checks that the process exits normally: with the
# situation's own status, within a second of calling exit(), and (when it was connected) after
# the stand-alone simulated tracker has received its disconnect.
#
#   run_exit.sh SIM_TRACKER PROGRAM SITUATION ADDRESS EXPECTED_STATUS
#
# In the failed-connect situation no tracker runs at ADDRESS.
set -uo pipefail
sim=$1
program=$2
situation=$3
address=$4
expected=$5
exit_limit_ms=${LVX_EXIT_LIMIT_MS:-1000}
# The thread sanitizer sleeps a second at exit while other threads still run (to catch their
# races); here that is the thread that keeps reading while another calls exit(). Not the
# library's time: skip it.
export TSAN_OPTIONS="${TSAN_OPTIONS:+$TSAN_OPTIONS:}atexit_sleep_ms=0"

. "$(dirname "$0")/../start_tracker.sh"
tracker_log=

fail() {
  echo "FAIL: $*" >&2
  [ -n "$tracker_log" ] && { echo "--- simulated tracker:" >&2; cat "$tracker_log" >&2; }
  exit 1
}

work=$(mktemp -d)
trap 'stop_tracker; rm -rf "$work"' EXIT

# Waits (at most 5 s) for a line matching a pattern in the tracker's output.
wait_for_line() {
  for _ in $(seq 50); do
    grep -q "$1" "$tracker_log" && return 0
    sleep 0.1
  done
  return 1
}

connected=1
[ "$situation" = failed-connect ] && connected=0
if [ "$connected" = 1 ]; then
  start_tracker "$sim" "$address" --print-connections --keepalive-ms 20 ||
    fail "the simulated tracker did not start"
else
  target=$address
fi

timeout 30 "$program" "$situation" "$target" >"$work/out" 2>"$work/err"
status=$?
end_ns=$(date +%s%N)
cat "$work/out"
cat "$work/err" >&2

[ "$status" = "$expected" ] || fail "$situation: exit status $status, expected $expected"
at_ns=$(sed -n 's/^exit status=[0-9]* at_ns=\([0-9]*\)$/\1/p' "$work/out")
[ -n "$at_ns" ] || fail "$situation: the program did not report when it called exit"
grep -q '^exit steps took' "$work/out" || fail "$situation: the exit handlers did not all run"
exit_ms=$(((end_ns - at_ns) / 1000000))
echo "whole exit took $exit_ms ms"
[ "$exit_ms" -lt "$exit_limit_ms" ] || fail "$situation: exit took $exit_ms ms"

if [ "$connected" = 1 ]; then
  grep -q '^connect from 127\.' "$tracker_log" || fail "$situation: no connect request arrived"
  wait_for_line '^disconnect from 127\.' ||
    fail "$situation: the tracker never received the disconnect"
  grep '^disconnect from' "$tracker_log"
fi
exit 0
