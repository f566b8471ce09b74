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
source "$(dirname "$0")/x11_lib.sh"
x11_start

step=0
shot() { step=$((step + 1)); import -window root "$out/$(printf %02d "$step")-$1.png"; }

connect shot
shot main-dialog
click "$main" 102 1002 # Get Status
message_box >/dev/null || fail "no answer to Get Status"
shot got-status
dismiss "Success to get status of printer."
choose "$main" 102 1013 Up 3 # Baud Rate 115200 -> 19200
click "$main" 102 11         # Default Code Page: its edit field takes the arrow keys
for _ in $(seq 16); do xdotool key Down; done # PC850 (Multilingual) -> PC857 (Turkish)
# The keys reach the program before the click that follows, and the box of Set Status comes only once it has
# taken the settings: its screenshot shows them.
click "$main" 102 1003 # Set Status
message_box >/dev/null || fail "no answer to Set Status"
shot set-status
dismiss "Success to set status of printer"
grep -q 'switch 9 = 00100000' "$out/printer.state" || fail "baud rate not written: $(cat "$out/printer.state")"
grep -q 'switch 2 = 11010100' "$out/printer.state" || fail "code page not written: $(cat "$out/printer.state")"
click "$main" 102 1007 # Exit
ends_with_zero "after Exit" 5
echo "real-window test passed; screenshots in $out"
