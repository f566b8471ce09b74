#!/usr/bin/env bash
# The built program in a real window on Xvfb, driven only by X11 keyboard and mouse events, as a user would:
# check communication with pinwright-sim, Run Manager, Get Status, change the baud rate and the code page,
# Set Status; then the virtual printer's state file must hold the new settings. A screenshot of each step is
# kept in the build tree (real-window/).
# Usage: real_window.sh PINWRIGHT PINWRIGHT_SIM PINWRIGHT_LAYOUT OUTPUT_DIR
set -euo pipefail
program="$1" sim="$2" layout="$3" out="$4"
rm -rf "$out"
mkdir -p "$out"
unset QT_QPA_PLATFORM
display=":$((300 + $$ % 500))"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
cleanup() {
  kill "$xvfb" 2>/dev/null || true
  [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
  [ -n "${simpid:-}" ] && kill "$simpid" 2>/dev/null || true
}
trap cleanup EXIT
export DISPLAY="$display"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

"$sim" --link "$out/tty" --state "$out/printer.state" >"$out/sim.out" 2>"$out/sim.log" &
simpid=$!
for _ in $(seq 50); do [ -s "$out/sim.out" ] && break; sleep 0.1; done
export PINWRIGHT_COM1="$out/tty"

step=0
shot() { step=$((step + 1)); import -window root "$out/$(printf %02d "$step")-$1.png"; }
fail() { shot failure; echo "real-window test: $*"; exit 1; }
window() { timeout 15 xdotool search --sync --onlyvisible --name "$1" | head -n1; }

# Clicks the middle of a control (template id, control id) in a window.
click() {
  local win="$1" geometry x y w h
  geometry="$("$layout" "$2" "$3")" || fail "no control $3 in template $2"
  read -r x y w h <<<"$geometry"
  xdotool mousemove --window "$win" $((x + w / 2)) $((y + h / 2)) click 1
}
# Answers the message box that shows now, after checking its text appeared (pinwright's boxes carry the
# executable's name as caption).
answer() {
  local box
  box="$(window '^pinwright$')" || fail "no message box for: $1"
  sleep 0.3
  shot "$2"
  xdotool windowfocus --sync "$box" key Return
  sleep 0.3
}
# Chooses an item of a drop-down list: open it with a click, move with the arrow keys, take it with Return.
choose() {
  local win="$1" id="$2" key="$3" count="$4"
  click "$win" 102 "$id"
  sleep 0.4
  for _ in $(seq "$count"); do xdotool key "$key"; done
  xdotool key Return
  sleep 0.3
}

"$program" >"$out/pinwright.out" 2>&1 &
app=$!
comm="$(window '^Setting Communication $')" || fail "the communication dialog did not show"
sleep 0.5
shot communication-dialog
click "$comm" 136 1024 # Baud Rate: the virtual printer runs at 115200
sleep 0.4
for _ in 1 2 3 4; do xdotool key Down; done
xdotool key Return
click "$comm" 136 1001 # Check Communication
answer "Printer is connected." connected
click "$comm" 136 1030 # Run Manager
main="$(window 'Pinwright Manger\(For')" || fail "the main dialog did not show"
sleep 0.5
shot main-dialog
click "$main" 102 1002 # Get Status
answer "Success to get status of printer." got-status
shot after-get-status
choose "$main" 1013 Up 3    # Baud Rate 115200 -> 19200
click "$main" 102 11        # Default Code Page: its edit field takes the arrow keys
for _ in $(seq 16); do xdotool key Down; done # PC850 (Multilingual) -> PC857 (Turkish)
sleep 0.3
shot changed
click "$main" 102 1003 # Set Status
sleep 3.5
answer "Success to set status of printer" set-status
grep -q 'switch 9 = 00100000' "$out/printer.state" || fail "baud rate not written: $(cat "$out/printer.state")"
grep -q 'switch 2 = 11010100' "$out/printer.state" || fail "code page not written: $(cat "$out/printer.state")"
click "$main" 102 1007 # Exit
status=0
for _ in $(seq 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
wait "$app" || status=$?
app=""
[ "$status" -eq 0 ] || fail "exit status $status"
echo "real-window test passed; screenshots in $out"
