#!/usr/bin/env bash
# The program's windows carry the class that its desktop entry names in StartupWMClass, so docks and task
# bars group them under the entry and show its icon. Usage: window_class.sh PROGRAM DESKTOP_FILE
set -euo pipefail
program="$1"
desktop="$2"
source "$(dirname "$0")/../../scripts/lib/wait.sh"
out="$(mktemp -d /tmp/pinwright-class.XXXXXX)"
trap 'xvfb_stop; [ -n "${app:-}" ] && kill $app 2>/dev/null || true; rm -rf "$out"' EXIT

wanted="$(sed -n 's/^StartupWMClass=//p' "$desktop")"
[ -n "$wanted" ] || { echo "no StartupWMClass in $desktop"; exit 1; }

xvfb_start
# Started the way the desktop entry starts it: by its name, from PATH.
PATH="$(dirname "$program"):$PATH" "$(basename "$program")" >"$out/pinwright.out" 2>&1 &
app=$!
watch "$app" pinwright "$out/pinwright.out"
wait_for "the communication dialog to show" 15 xdotool search --onlyvisible --name '^Setting Communication $'
comm=$(xdotool search --onlyvisible --name '^Setting Communication $' | head -n1)
# WM_CLASS(STRING) = "instance", "class"
class="$(xprop -id "$comm" WM_CLASS | sed -n 's/.*= "\(.*\)", "\(.*\)"/\2/p')"
echo "WM_CLASS class: '$class', StartupWMClass: '$wanted'"
[ "$class" = "$wanted" ]
