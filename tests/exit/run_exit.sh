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

fail() {
  echo "FAIL: $*" >&2
  [ -n "${sim_log:-}" ] && { echo "--- simulated tracker:" >&2; cat "$sim_log" >&2; }
  exit 1
}

work=$(mktemp -d)
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# Waits (at most 5 s) for a line matching a pattern in a file.
wait_for_line() {
  for _ in $(seq 50); do
    grep -q "$1" "$2" && return 0
    sleep 0.1
  done
  return 1
}

connected=1
[ "$situation" = failed-connect ] && connected=0
sim_log=
if [ "$connected" = 1 ]; then
  sim_log=$work/sim.log
  # A port the system chooses, so that the test runs as an ordinary user.
  "$sim" --address "$address" --udp-port 0 --print-connections --keepalive-ms 20 \
    >"$sim_log" 2>&1 &
  sim_pid=$!
  wait_for_line '^listening' "$sim_log" || fail "the simulated tracker did not start"
  target=$(sed -n 's/^listening udp=\([0-9.]*:[0-9]*\).*/\1/p' "$sim_log")
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
  grep -q '^connect from 127\.' "$sim_log" || fail "$situation: no connect request arrived"
  wait_for_line '^disconnect from 127\.' "$sim_log" ||
    fail "$situation: the tracker never received the disconnect"
  grep '^disconnect from' "$sim_log"
fi
exit 0
