#!/usr/bin/env bash
# A real process on a real (virtual) X display: cancelling the communication dialog at start-up ends the
# program with status 0, and the main dialog never shows.
set -euo pipefail
program="$1"
unset QT_QPA_PLATFORM
display=":$((200 + $$ % 500))"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true; [ -n "${app:-}" ] && kill $app 2>/dev/null || true' EXIT
export DISPLAY="$display"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

"$program" &
app=$!
comm=$(timeout 15 xdotool search --sync --name '^Setting Communication $' | head -n1)
[ -n "$comm" ] || { echo "the communication dialog did not show"; exit 1; }

# Watch for the main dialog while the program runs.
seen=0
xdotool windowfocus --sync "$comm"
xdotool key Escape
for _ in $(seq 100); do
  if xdotool search --name 'Pinwright Manger\(For' >/dev/null 2>&1; then seen=1; fi
  kill -0 "$app" 2>/dev/null || break
  sleep 0.05
done
status=0
wait "$app" || status=$?
app=""
[ "$seen" -eq 0 ] || { echo "the main dialog showed"; exit 1; }
[ "$status" -eq 0 ] || { echo "exit status $status"; exit 1; }
echo "cancelled: exit status 0, main dialog never shown"
