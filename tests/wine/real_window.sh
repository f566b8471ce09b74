#!/usr/bin/env bash
# pinwright.exe in real windows under wine, driven only by X11 keyboard and mouse events, as a user would:
# Return presses "Check Communication" against pinwright-sim on COM1 and the message box comes; "Run
# Manager", Get Status, a new baud rate and code page, Set Status (the simulator's state file must hold
# them), Save Status through the real save dialog, the About box from the system menu, Exit with status
# 0. A screenshot of each step is kept in OUT_DIR.
# Usage: real_window.sh PINWRIGHT_EXE PINWRIGHT_LAYOUT_EXE PINWRIGHT_SIM WINEPREFIX OUT_DIR
set -euo pipefail
program="$1" layout_exe="$2" sim="$3" prefix="$4" out="$5"
[ -x "$sim" ] || { echo "real_window: $sim is missing: build Linux first (scripts/build)" >&2; exit 1; }
rm -rf "$out"
mkdir -p "$out"
source "$(dirname "$0")/wine_x11_lib.sh"
wine_x11_start "$prefix"

step=0
shot() { step=$((step + 1)); import -window root "$out/$(printf %02d "$step")-$1.png"; }

wine_connect shot
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

click "$main" 102 1004 # Save Status: the common save dialog, its name field focused
save="$(window '^Save current status$')" || fail "the save dialog did not show"
until_ready "$save" "the save dialog"
shot save-dialog
saved="Z:$(printf '%s' "$out/saved.sts" | tr / '\\')"
xdotool windowfocus --sync "$save" key ctrl+a
xdotool type --delay 20 "$saved"
xdotool key Return
has_88_bytes() { [ "$(stat -c %s "$out/saved.sts" 2>/dev/null)" = 88 ]; }
wait_for "Save Status to write $out/saved.sts (88 bytes)" 10 has_88_bytes || fail "no status file saved"

open_about shot
shot about-box
xdotool windowfocus --sync "$about" key Return
wait_for "the About box to close" 10 closed "$about" || fail "the About box did not close"

click "$main" 102 1007 # Exit
ends_with_zero "after Exit" 10
echo "Windows real-window test passed; screenshots in $out"
