#!/usr/bin/env bash
# The built program in a real window on Xvfb, told to stop from outside: SIGTERM (a service stop or a
# logout), SIGHUP (its terminal closed) and SIGINT (Ctrl-C in that terminal) during Set Status, while the
# printer is in user setting mode, end the program as closing its window does: the printer is first taken
# out of the mode, then the program exits with 128 + the signal. A stop while a message box shows, and one
# at the communication dialog, end it the same way.
# Usage: stop_signals.sh PINWRIGHT PINWRIGHT_SIM PINWRIGHT_LAYOUT OUTPUT_DIR
set -euo pipefail
real_program="$1" sim="$2" layout="$3" out="$4"
rm -rf "$out"
mkdir -p "$out"
source "$(dirname "$0")/x11_lib.sh"
source "$(dirname "$0")/responsive_lib.sh"

# A background job of a script starts with SIGINT ignored, and the program keeps an ignored signal
# ignored; from a terminal it is not. The program runs as from a terminal.
program="$out/pinwright"
printf '#!/bin/sh\nexec env --default-signal=INT "%s" "$@"\n' "$real_program" >"$program"
chmod +x "$program"

signal_number() { kill -l "$1"; }

# ends_with_signal_status SIGNAL WHEN SECONDS: the program ($app) ends within SECONDS with 128 + SIGNAL.
ends_with_signal_status() {
  local status=0 expected=$((128 + $(signal_number "$1")))
  unwatch "$app"
  wait_for "pinwright to end $2" "$3" ended || fail "pinwright did not end $2"
  wait "$app" || status=$?
  app=""
  [ "$status" -eq "$expected" ] || fail "exit status $status $2, expected $expected"
}

# --- at the communication dialog ------------------------------------------------------------------------
x11_start
"$program" >"$out/pinwright.out" 2>&1 &
app=$!
watch "$app" pinwright "$out/pinwright.out"
window '^Setting Communication $' >/dev/null || fail "the communication dialog did not show"
sleep 0.5
kill -TERM "$app"
ends_with_signal_status TERM "after SIGTERM at the communication dialog" 5

# --- while a message box shows ----------------------------------------------------------------------------
connect
click "$main" 102 1002 # Get Status
message_box >/dev/null || fail "no answer to Get Status"
kill -HUP "$app"
ends_with_signal_status HUP "after SIGHUP while a message box showed" 5

# --- during Set Status, in user setting mode --------------------------------------------------------------
for sig in TERM HUP INT; do
  x11_sim_restart --trace --fault delay=150
  connect
  click "$main" 102 1002 # Get Status
  message_box >/dev/null || fail "no answer to Get Status"
  dismiss "Success to get status of printer."
  click "$main" 102 1003 # Set Status: a second in user setting mode at this printer's pace
  wait_for "the printer to enter user setting mode (SIG$sig)" 10 grep -q -- '-- user setting mode' "$out/sim.log" ||
    fail "Set Status did not start"
  kill "-$sig" "$app"
  ends_with_signal_status "$sig" "after SIG$sig in user setting mode" 10
  left_setting_mode
  echo "SIG$sig: $(grep -E -- '-- (user setting mode|settings applied)' "$out/sim.log" | tr '\n' ' ')"
done
echo "stop-signals test passed"
