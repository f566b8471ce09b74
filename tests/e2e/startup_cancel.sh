#!/usr/bin/env bash
# A real process on a real (virtual) X display: cancelling the communication dialog at start-up ends the
# program with status 0, and the main dialog never shows.
set -euo pipefail
program="$1"
source "$(dirname "$0")/../../scripts/lib/wait.sh"
out="$(mktemp -d /tmp/pinwright-cancel.XXXXXX)"
trap 'xvfb_stop; [ -n "${app:-}" ] && kill $app 2>/dev/null || true; rm -rf "$out"' EXIT
xvfb_start

"$program" >"$out/pinwright.out" 2>&1 &
app=$!
watch "$app" pinwright "$out/pinwright.out"
wait_for "the communication dialog to show" 15 xdotool search --onlyvisible --name '^Setting Communication $'
comm=$(xdotool search --onlyvisible --name '^Setting Communication $' | head -n1)
unwatch "$app"

# Watch for the main dialog while the program ends.
seen=0
xdotool windowfocus --sync "$comm"
xdotool key Escape
ended_or_main() {
  xdotool search --name 'Pinwright Manger\(For' >/dev/null 2>&1 && seen=1
  ! kill -0 "$app" 2>/dev/null
}
wait_for "pinwright to end after Escape" 5 ended_or_main
status=0
wait "$app" || status=$?
app=""
[ "$seen" -eq 0 ] || { echo "the main dialog showed"; exit 1; }
[ "$status" -eq 0 ] || { echo "exit status $status"; exit 1; }
echo "cancelled: exit status 0, main dialog never shown"
