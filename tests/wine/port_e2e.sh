#!/usr/bin/env bash
# The printer sequences end to end under wine, compared with Linux: runs the Linux and the Windows build
# of port_sequences_e2e, each against a fresh pinwright-sim with the same switches, the Windows one with
# wine's COM1 pointed at the simulator's pseudo-terminal, and requires that the printer received the same
# bytes, sent the same replies and ended with the same switches.
# Usage: port_e2e.sh SIM LINUX_PROGRAM WINDOWS_PROGRAM WORK_DIR
set -euo pipefail
sim="$1" linux_program="$2" windows_program="$3" work="$4"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/wine_lib.sh"
source "$here/../../scripts/lib/wait.sh"
for f in "$sim" "$linux_program"; do
  [ -x "$f" ] || { echo "port_e2e: $f is missing: build Linux first (scripts/build)" >&2; exit 1; }
done
rm -rf "$work/linux" "$work/windows"
mkdir -p "$work/linux" "$work/windows"

sim_pid=""
stop_sim() {
  [ -n "$sim_pid" ] || return 0
  unwatch "$sim_pid"
  kill "$sim_pid" 2>/dev/null || true
  for _ in $(seq 50); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.1; done
  kill -9 "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
}
trap 'stop_sim; wine_stop' EXIT

# start_sim DIR: the simulator with its link, trace and state file in DIR; waits for its "pty:" line.
start_sim() {
  "$sim" --link "$1/printer" --trace --state "$1/state" --switch 9=10000000 --switch 2=00010100 \
    >"$1/sim.out" 2>"$1/trace" &
  sim_pid=$!
  watch "$sim_pid" pinwright-sim "$1/trace"
  wait_for "pinwright-sim's 'pty:' line" 10 grep -q '^pty: ' "$1/sim.out"
}

# bytes DIR ARROW: every byte the simulator received (<-) or sent (->), one a line, in order.
bytes() {
  grep -o -e "$2 .*" "$1/trace" | cut -c4- | tr ' ' '\n' | grep -v '^$' || true
}

echo "--- Linux"
start_sim "$work/linux"
PINWRIGHT_COM1="$work/linux/printer" timeout -k 5 120 "$linux_program" ||
  { echo "port_e2e: the Linux run failed" >&2; exit 1; }
stop_sim

echo "--- Windows, under wine"
wine_env "$work/wineprefix"
wine_init
wine_map_com 1 "$work/windows/printer"
start_sim "$work/windows"
status=0
wine_server_start
timeout -k 5 180 wine "$windows_program" || status=$?
stop_sim
wine_stop
[ "$status" -eq 0 ] || { echo "port_e2e: the Windows run failed (status $status)" >&2; exit 1; }

fail=0
for arrow in '<-' '->'; do
  bytes "$work/linux" "$arrow" >"$work/linux/bytes$arrow"
  bytes "$work/windows" "$arrow" >"$work/windows/bytes$arrow"
  if [ ! -s "$work/linux/bytes$arrow" ]; then
    echo "port_e2e: the trace shows no bytes $arrow" >&2
    fail=1
  elif ! diff -u "$work/linux/bytes$arrow" "$work/windows/bytes$arrow" >"$work/diff$arrow"; then
    echo "port_e2e: the bytes $arrow differ between Linux and Windows:" >&2
    head -40 "$work/diff$arrow" >&2
    fail=1
  fi
done
if ! diff -u "$work/linux/state" "$work/windows/state"; then
  echo "port_e2e: the printer's switches differ after the runs" >&2
  fail=1
fi
if grep -q '^switch 9 = 10000000' "$work/windows/state"; then
  echo "port_e2e: switch 9 is unchanged: Set Status did not reach the printer" >&2
  fail=1
fi
[ "$fail" -eq 0 ] && echo "port_e2e: $(wc -l <"$work/windows/bytes<-") bytes received and" \
  "$(wc -l <"$work/windows/bytes->") sent, the same on Linux and Windows"
exit "$fail"
