#!/usr/bin/env bash
# Runs the consumer against a stand-alone simulated tracker on a port the system chooses:
#   run_consumer.sh TRACKER_PROGRAM CONSUMER_PROGRAM ADDRESS
set -euo pipefail
sim=$1
consumer=$2
address=$3
log=$(mktemp)
"$sim" --address "$address" --udp-port 0 >"$log" &
pid=$!
trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; rm -f "$log"' EXIT
target=
for _ in $(seq 50); do
  target=$(sed -n 's/^listening udp=\([0-9.]*:[0-9]*\).*/\1/p' "$log")
  [ -n "$target" ] && break
  sleep 0.1
done
[ -n "$target" ] || { echo "the simulated tracker did not start:" >&2; cat "$log" >&2; exit 1; }
out=$("$consumer" "$target") || { echo "$out"; echo "the consumer failed" >&2; exit 1; }
echo "$out"
grep -q '^consumer: generation=3 version="LUMAVEX RX 5.7" eye=both samples=[0-9]*,[0-9]* ' <<<"$out"
