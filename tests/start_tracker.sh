# Starts the stand-alone simulated tracker in the background, on a port the system chooses (so
# that tests run as an ordinary user), and reads that port back from its "listening" line.
# Sourced by the test scripts:
#   start_tracker PROGRAM ADDRESS [OPTION...]
# sets tracker_pid, tracker_log (what the tracker prints) and target (ADDRESS:PORT), or prints
# the tracker's output and returns 1 when it has not started within 5 s. stop_tracker ends it
# and removes its log; callers run it on exit.
start_tracker() {
  local program=$1 address=$2
  shift 2
  tracker_log=$(mktemp)
  "$program" --address "$address" --udp-port 0 "$@" >"$tracker_log" 2>&1 &
  tracker_pid=$!
  target=
  for _ in $(seq 50); do
    target=$(sed -n 's/^listening udp=\([0-9.]*:[0-9]*\).*/\1/p' "$tracker_log" | head -1)
    [ -n "$target" ] && return 0
    sleep 0.1
  done
  echo "the simulated tracker did not start:" >&2
  cat "$tracker_log" >&2
  return 1
}

stop_tracker() {
  if [ -n "${tracker_pid:-}" ]; then
    kill "$tracker_pid" 2>/dev/null || true
    wait "$tracker_pid" 2>/dev/null || true
  fi
  tracker_pid=
  rm -f "${tracker_log:-}"
  return 0
}
