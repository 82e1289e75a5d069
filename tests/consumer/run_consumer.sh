#!/usr/bin/env bash
# Runs the consumer against a stand-alone simulated tracker on a port the system chooses:
#   run_consumer.sh TRACKER_PROGRAM CONSUMER_PROGRAM ADDRESS
set -euo pipefail
. "$(dirname "$0")/../start_tracker.sh"
trap stop_tracker EXIT
start_tracker "$1" "$3"
out=$("$2" "$target") || { echo "$out"; echo "the consumer failed" >&2; exit 1; }
echo "$out"
grep -q '^consumer: generation=3 version="LUMAVEX RX 5.7" eye=both samples=[0-9]*,[0-9]* ' <<<"$out"
