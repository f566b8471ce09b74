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
source "$here/sim_lib.sh"
for f in "$sim" "$linux_program"; do
  [ -x "$f" ] || { echo "port_e2e: $f is missing: build Linux first (scripts/build)" >&2; exit 1; }
done
rm -rf "$work/linux" "$work/windows"
mkdir -p "$work/linux" "$work/windows"

trap 'sim_stop; wine_stop' EXIT

# The printer of both runs: the same switches, its files in DIR.
start_sim() {
  sim_start "$1" --switch 9=10000000 --switch 2=00010100
}

echo "--- Linux"
start_sim "$work/linux"
PINWRIGHT_COM1="$work/linux/printer" timeout -k 5 120 "$linux_program" ||
  { echo "port_e2e: the Linux run failed" >&2; exit 1; }
sim_stop

echo "--- Windows, under wine"
wine_env "$work/wineprefix"
wine_init
wine_map_com 1 "$work/windows/printer"
start_sim "$work/windows"
status=0
wine_server_start
timeout -k 5 180 wine "$windows_program" || status=$?
sim_stop
wine_stop
[ "$status" -eq 0 ] || { echo "port_e2e: the Windows run failed (status $status)" >&2; exit 1; }

fail=0
sim_compare "$work/linux" "$work/windows" || fail=1
if grep -q '^switch 9 = 10000000' "$work/windows/state"; then
  echo "port_e2e: switch 9 is unchanged: Set Status did not reach the printer" >&2
  fail=1
fi
[ "$fail" -eq 0 ] && echo "port_e2e: $(wc -l <"$work/windows/bytes<-") bytes received and" \
  "$(wc -l <"$work/windows/bytes->") sent, the same on Linux and Windows"
exit "$fail"
