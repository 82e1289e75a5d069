#!/usr/bin/env bash
# Runs the C sample against the stand-alone simulated tracker: a C program that includes only
# the public header and links only the shared library must connect.
#   run_c_connect.sh TRACKER_PROGRAM C_CONNECT_PROGRAM ADDRESS
set -euo pipefail
. "$(dirname "$0")/../start_tracker.sh"
trap stop_tracker EXIT
start_tracker "$1" "$3" --keepalive-ms 20
out=$("$2" "$target")
echo "$out"
grep -q "connected=1 generation=3" <<<"$out"
