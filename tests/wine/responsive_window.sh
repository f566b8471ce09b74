#!/usr/bin/env bash
# pinwright.exe in real windows under wine stays responsive while it talks to pinwright-sim on COM1: a
# message sent with SendMessageTimeout (WM_NULL, as Windows asks a window that may not respond) is answered
# within 200 ms during a check on a silent printer, and during a Get Status and a Set Status on a slow one;
# Escape ends the check at once, and Alt+F4 during Set Status ends the program only after the printer has
# left user setting mode.
# Usage: responsive_window.sh PINWRIGHT_EXE PINWRIGHT_LAYOUT_EXE WINDOW_PING_EXE PINWRIGHT_SIM WINEPREFIX OUT_DIR
set -euo pipefail
program="$1" layout_exe="$2" ping_exe="$3" sim="$4" prefix="$5" out="$6"
[ -x "$sim" ] || { echo "responsive_window: $sim is missing: build Linux first (scripts/build)" >&2; exit 1; }
rm -rf "$out"
mkdir -p "$out"
source "$(dirname "$0")/wine_x11_lib.sh"
limit=200
comm_title='Setting Communication '
main_title='Pinwright Manger(For LTX-580/LTX-582 Ver2.1)'

# pings TITLE SECONDS NAME: pings in the background until it has been answered once; `pinged NAME` then
# waits for it and fails unless every ping was answered within the limit.
pings() {
  timeout -k 5 60 wine "$ping_exe" "$1" "$2" "$limit" >"$out/ping-$3.txt" 2>&1 &
  pingpid=$!
  wait_for "the first answer to a ping ($3)" 20 grep -q answering "$out/ping-$3.txt" ||
    fail "no answer to a ping ($3): $(cat "$out/ping-$3.txt")"
}
pinged() {
  local status=0
  wait "$pingpid" || status=$?
  echo "$1: $(tail -n1 "$out/ping-$1.txt" | tr -d '\r')"
  [ "$status" -eq 0 ] || fail "$1: the window did not answer within $limit ms: $(tail -n1 "$out/ping-$1.txt")"
}
ended() { ! kill -0 "$app" 2>/dev/null; }

# --- a silent printer: the check ------------------------------------------------------------------------
wine_x11_start "$prefix" --fault silent
timeout -k 5 240 wine "$program" >"$out/pinwright.out" 2>&1 &
app=$!
watch "$app" pinwright.exe "$out/pinwright.out"
comm="$(window '^Setting Communication $')" || fail "the communication dialog did not show"
sleep 0.5
pings "$comm_title" 3 check
xdotool windowfocus --sync "$comm" key Return # Check Communication: on a silent printer it waits a minute
pinged check
xdotool windowfocus --sync "$comm" key Escape
unwatch "$app"
wait_for "pinwright.exe to end once Escape has stopped the check" 10 ended || fail "Escape did not end the check"
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
wine_connect

pings "$main_title" 4 get-status
click "$main" 102 1002 # Get Status: the first one also asks for the printer's identity, 2 s and more
pinged get-status
dismiss "Success to get status of printer."

pings "$main_title" 5 set-status
click "$main" 102 1003 # Set Status: a second in user setting mode, two for the printer's restart
pinged set-status
dismiss "Success to set status of printer"

modes() { grep -c -- '-- user setting mode' "$out/sim.log" || true; }
[ "$(modes)" -eq 1 ] || fail "expected one user setting mode so far"
click "$main" 102 1003 # Set Status again, closed in the mode
in_mode() { [ "$(modes)" -eq 2 ]; }
wait_for "the printer to enter user setting mode" 5 in_mode || fail "Set Status did not start"
xdotool windowfocus --sync "$main" key alt+F4
unwatch "$app"
wait_for "pinwright.exe to end after its window was closed" 10 ended || fail "the close did not end the program"
status=0
wait "$app" || status=$?
app=""
[ "$status" -eq 0 ] || fail "exit status $status after the close"
last="$(grep -E -- '-- (user setting mode|settings applied)' "$out/sim.log" | tail -n1)"
case "$last" in
*"settings applied"*) ;;
*) fail "the printer was left in user setting mode: $last" ;;
esac
echo "Windows responsive-window test passed; pings answered within $limit ms"
