#!/usr/bin/env bash
# Runs the C sample against the stand-alone simulated tracker: a C program that includes only
# the public header and links only the shared library must connect.
set -euo pipefail
sim=$1
client=$2
address=127.0.0.51
"$sim" --address "$address" --keepalive-ms 20 > /dev/null &
pid=$!
trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true' EXIT
sleep 0.2
out=$("$client" "$address")
echo "$out"
grep -q "connected=1 generation=3" <<<"$out"
