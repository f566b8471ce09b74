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
source "$(dirname "$0")/responsive_lib.sh"
limit=200
app_name=pinwright

# pings WINDOW SECONDS NAME: pings in the background until it has been answered once; `pinged NAME` then
# waits for it and fails unless every ping was answered within the limit.
pings() {
  "$wmping" ping "$1" "$2" "$limit" >"$out/ping-$3.txt" 2>&1 &
  pingpid=$!
  wait_for "the first answer to a ping ($3)" 5 grep -q answering "$out/ping-$3.txt" ||
    fail "no answer to a ping ($3)"
}

# --- a silent printer: the check ------------------------------------------------------------------------
x11_start --fault silent
"$program" >"$out/pinwright.out" 2>&1 &
app=$!
watch "$app" pinwright "$out/pinwright.out"
comm="$(window '^Setting Communication $')" || fail "the communication dialog did not show"
until_ready "$comm" "the communication dialog"

# A stopped program answers no ping: the measure is its event loop.
kill -STOP "$app"
"$wmping" ping "$comm" 0.5 "$limit" >"$out/ping-stopped.txt" 2>&1 && fail "a stopped program answered pings"
kill -CONT "$app"
echo "stopped: $(tail -n1 "$out/ping-stopped.txt")"

pings "$comm" 3 check
click "$comm" 136 1001 # Check Communication: on a silent printer it waits for a minute
pinged check
xdotool windowfocus --sync "$comm" key Escape
ends_with_zero "once Escape has stopped the check" 5

# --- a slow printer: Get Status, Set Status, and a close in user setting mode -----------------------------
x11_sim_restart --trace --fault delay=150
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

set_status_into_mode
"$wmping" close "$main"
ends_with_zero "after its window was closed" 5
left_setting_mode
echo "responsive-window test passed; pings answered within $limit ms"
