#!/usr/bin/env bash
# The program's windows carry the class that its desktop entry names in StartupWMClass, so docks and task
# bars group them under the entry and show its icon. Usage: window_class.sh PROGRAM DESKTOP_FILE
set -euo pipefail
program="$1"
desktop="$2"
unset QT_QPA_PLATFORM
display=":$((200 + ($$ + 250) % 500))"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true; [ -n "${app:-}" ] && kill $app 2>/dev/null || true' EXIT
export DISPLAY="$display"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
xdpyinfo >/dev/null 2>&1 || { echo "Xvfb did not start on $display within 5 s"; exit 1; }

wanted="$(sed -n 's/^StartupWMClass=//p' "$desktop")"
[ -n "$wanted" ] || { echo "no StartupWMClass in $desktop"; exit 1; }

# Started the way the desktop entry starts it: by its name, from PATH.
PATH="$(dirname "$program"):$PATH" "$(basename "$program")" &
app=$!
comm=$(timeout 15 xdotool search --sync --name '^Setting Communication $' | head -n1) ||
  { echo "the communication dialog did not show within 15 s"; exit 1; }
# WM_CLASS(STRING) = "instance", "class"
class="$(xprop -id "$comm" WM_CLASS | sed -n 's/.*= "\(.*\)", "\(.*\)"/\2/p')"
echo "WM_CLASS class: '$class', StartupWMClass: '$wanted'"
[ "$class" = "$wanted" ] || exit 1
