#!/usr/bin/env bash
# The stand-alone tracker's scheduled faults: counted from the first display's connect, it falls
# silent and speaks again, then restarts and listens again on the same port, where a display can
# connect once more.
#   run_faults.sh TRACKER_PROGRAM C_CONNECT_PROGRAM ADDRESS
set -euo pipefail
. "$(dirname "$0")/../start_tracker.sh"
trap stop_tracker EXIT
client=$2
start_tracker "$1" "$3" --silence-after-s 0 --silence-for-s 0.3 --restart-after-s 1.5 \
  --down-for-s 0.3

# Waits (at most 5 s) until the tracker has printed at least $2 lines matching $1.
wait_for() {
  for _ in $(seq 50); do
    [ "$(grep -c -- "$1" "$tracker_log" || true)" -ge "$2" ] && return 0
    sleep 0.1
  done
  echo "missing \"$1\" (x$2) in the tracker's output:" >&2
  cat "$tracker_log" >&2
  exit 1
}

"$client" "$target" >/dev/null
wait_for '^fault: silent for 0.3 s$' 1
wait_for '^fault: silence over$' 1
wait_for '^fault: restarting, down for 0.3 s$' 1
wait_for '^listening udp=' 2
again=$(sed -n 's/^listening udp=\([0-9.]*:[0-9]*\).*/\1/p' "$tracker_log" | sed -n 2p)
[ "$again" = "$target" ] || { echo "restarted on $again, not $target" >&2; exit 1; }
# The faults happen once: the restarted tracker answers and stays up.
out=$("$client" "$target")
grep -q "connected=1" <<<"$out"
sleep 1
[ "$(grep -c '^fault:' "$tracker_log")" -eq 3 ] || { cat "$tracker_log" >&2; exit 1; }
echo "silence and restart as scheduled on $target"
