#!/usr/bin/env bash
# The built program in a real window on Xvfb stays responsive while it talks to the printer: a window
# manager's ping (_NET_WM_PING) is answered within 200 ms during a check on a silent printer, and during a
# Get Status and a Set Status on a slow one; Escape ends the check at once, and closing the window during
# Set Status ends the program only after the printer has left user setting mode. Pings time out while the
# program is stopped, which shows that they measure its event loop.
# Usage: responsive_window.sh PINWRIGHT PINWRIGHT_SIM PINWRIGHT_LAYOUT PINWRIGHT_WM_PING OUTPUT_DIR
set -euo pipefail
program="$1" sim="$2" layout="$3" wmping="$4" out="$5"
rm -rf "$out"
mkdir -p "$out"
source "$(dirname "$0")/x11_lib.sh"
limit=200

# pings WINDOW SECONDS NAME: pings in the background until it has been answered once; `pinged NAME` then
# waits for it and fails unless every ping was answered within the limit.
pings() {
  "$wmping" ping "$1" "$2" "$limit" >"$out/ping-$3.txt" 2>&1 &
  pingpid=$!
  wait_for "the first answer to a ping ($3)" 5 grep -q answering "$out/ping-$3.txt" ||
    fail "no answer to a ping ($3)"
}
pinged() {
  local status=0
  wait "$pingpid" || status=$?
  echo "$1: $(tail -n1 "$out/ping-$1.txt")"
  [ "$status" -eq 0 ] || fail "$1: the window did not answer within $limit ms: $(tail -n1 "$out/ping-$1.txt")"
}
ended() { ! kill -0 "$app" 2>/dev/null; }

# --- a silent printer: the check ------------------------------------------------------------------------
x11_start --fault silent
"$program" >"$out/pinwright.out" 2>&1 &
app=$!
watch "$app" pinwright "$out/pinwright.out"
comm="$(window '^Setting Communication $')" || fail "the communication dialog did not show"
sleep 0.5

# A stopped program answers no ping: the measure is its event loop.
kill -STOP "$app"
"$wmping" ping "$comm" 0.5 "$limit" >"$out/ping-stopped.txt" 2>&1 && fail "a stopped program answered pings"
kill -CONT "$app"
echo "stopped: $(tail -n1 "$out/ping-stopped.txt")"

pings "$comm" 3 check
click "$comm" 136 1001 # Check Communication: on a silent printer it waits for a minute
pinged check
xdotool windowfocus --sync "$comm" key Escape
unwatch "$app"
wait_for "pinwright to end once Escape has stopped the check" 5 ended || fail "Escape did not end the check"
status=0
wait "$app" || status=$?
app=""
[ "$status" -eq 0 ] || fail "exit status $status after Escape"
kill "$simpid"
wait "$simpid" 2>/dev/null || true
unwatch "$simpid"

# --- a slow printer: Get Status, Set Status, and a close in user setting mode -----------------------------
"$sim" --link "$out/tty" --state "$out/printer.state" --trace --fault delay=150 >"$out/sim.out" 2>"$out/sim.log" &
simpid=$!
watch "$simpid" pinwright-sim "$out/sim.log"
wait_for "pinwright-sim to name its pseudo-terminal" 10 test -s "$out/sim.out" || exit 1
connect

pings "$main" 3 get-status
click "$main" 102 1002 # Get Status: the first one also asks for the printer's identity, 2 s and more
pinged get-status
dismiss "Success to get status of printer."
choose "$main" 102 1013 Up 3 # Baud Rate 115200 -> 19200

pings "$main" 4 set-status
click "$main" 102 1003 # Set Status: a second in user setting mode, two for the printer's restart
pinged set-status
dismiss "Success to set status of printer"
grep -q 'switch 9 = 00100000' "$out/printer.state" || fail "Set Status did not write: $(cat "$out/printer.state")"

modes() { grep -c -- '-- user setting mode' "$out/sim.log" || true; }
[ "$(modes)" -eq 1 ] || fail "expected one user setting mode so far"
click "$main" 102 1003 # Set Status again, closed in the mode
in_mode() { [ "$(modes)" -eq 2 ]; }
wait_for "the printer to enter user setting mode" 5 in_mode || fail "Set Status did not start"
"$wmping" close "$main"
unwatch "$app"
wait_for "pinwright to end after its window was closed" 5 ended || fail "the close did not end the program"
status=0
wait "$app" || status=$?
app=""
[ "$status" -eq 0 ] || fail "exit status $status after the close"
last="$(grep -E -- '-- (user setting mode|settings applied)' "$out/sim.log" | tail -n1)"
case "$last" in
*"settings applied"*) ;;
*) fail "the printer was left in user setting mode: $last" ;;
esac
echo "responsive-window test passed; pings answered within $limit ms"
