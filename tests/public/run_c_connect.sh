#!/usr/bin/env bash
# Runs the C sample against the stand-alone simulated tracker: a C program that includes only
# the public header and links only the shared library must connect.
set -euo pipefail
sim=$1
client=$2
address=127.0.0.51
log=$(mktemp)
# A port the system chooses, so that the test runs as an ordinary user.
"$sim" --address "$address" --udp-port 0 --keepalive-ms 20 >"$log" &
pid=$!
trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; rm -f "$log"' EXIT
target=
for _ in $(seq 50); do
  target=$(sed -n 's/^listening udp=\([0-9.]*:[0-9]*\).*/\1/p' "$log")
  [ -n "$target" ] && break
  sleep 0.1
done
[ -n "$target" ] || { echo "the simulated tracker did not start" >&2; exit 1; }
out=$("$client" "$target")
echo "$out"
grep -q "connected=1 generation=3" <<<"$out"
