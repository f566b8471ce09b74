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
source "$(dirname "$0")/../e2e/responsive_lib.sh"
limit=200
app_name=pinwright.exe
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

# --- a silent printer: the check ------------------------------------------------------------------------
wine_x11_start "$prefix" --fault silent
timeout -k 5 240 wine "$program" >"$out/pinwright.out" 2>&1 &
app=$!
watch "$app" pinwright.exe "$out/pinwright.out"
comm="$(window '^Setting Communication $')" || fail "the communication dialog did not show"
until_ready "$comm" "the communication dialog"
pings "$comm_title" 3 check
xdotool windowfocus --sync "$comm" key Return # Check Communication: on a silent printer it waits a minute
pinged check
xdotool windowfocus --sync "$comm" key Escape
ends_with_zero "once Escape has stopped the check" 10

# --- a slow printer: Get Status, Set Status, and a close in user setting mode -----------------------------
x11_sim_restart --trace --fault delay=150
wine_connect

pings "$main_title" 4 get-status
click "$main" 102 1002 # Get Status: the first one also asks for the printer's identity, 2 s and more
pinged get-status
dismiss "Success to get status of printer."

pings "$main_title" 5 set-status
click "$main" 102 1003 # Set Status: a second in user setting mode, two for the printer's restart
pinged set-status
dismiss "Success to set status of printer"

set_status_into_mode
xdotool windowfocus --sync "$main" key alt+F4
ends_with_zero "after its window was closed" 10
left_setting_mode
echo "Windows responsive-window test passed; pings answered within $limit ms"
