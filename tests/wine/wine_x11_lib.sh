# Shared by the Windows real-window test and scripts/screenshots: pinwright.exe under wine on a virtual X
# display, with pinwright-sim on wine's COM1, driven by X11 mouse and keyboard events with the helpers of
# tests/e2e/x11_lib.sh. Source it, then call wine_x11_start.
# Needs: $program (pinwright.exe), $layout_exe (pinwright-layout.exe), $sim and $out (a folder for the
# run's files).

here_wine_x11="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here_wine_x11/wine_lib.sh"
source "$here_wine_x11/../e2e/x11_lib.sh"

# wine_x11_start PREFIX [SIMULATOR OPTIONS...]: the desktop prefix, the display, the simulator on COM1 and
# the layout of the three dialogs.
wine_x11_start() {
  wine_env "$1"
  shift
  wine_desktop_init || exit 1
  x11_start "$@"
  trap wine_x11_stop EXIT
  wine_map_com 1 "$out/tty" || fail "COM1 could not be pointed at the simulator"
  wine_server_start
  local t
  for t in 136 102 100; do
    timeout -k 5 60 wine "$layout_exe" "$t" >"$out/layout-$t" 2>>"$out/layout.err" ||
      fail "pinwright-layout.exe $t: $(cat "$out/layout.err")"
    sed -i 's/\r$//' "$out/layout-$t" # Windows ends its lines with CR LF
  done
}

wine_x11_stop() {
  [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
  wine_stop
  x11_stop
}

# Under wine a window that shows need not take the X focus (a message box is active while the X focus may
# stay with its owner); keys go after `xdotool windowfocus --sync`. A window is ready once it is drawn: wine
# paints last, when the window's other messages are done.
until_ready() {
  wait_for "$2 to be drawn" 10 drawn "$1" || fail "$2 was not drawn"
}

# The place of a control, for x11_lib.sh's click: "x y width height" from the window's top left corner.
win_layout() {
  awk -v id="$2" '$1 == id { print $2, $3, $4, $5; found = 1 } END { exit !found }' "$out/layout-$1"
}
layout=win_layout

# Starts pinwright.exe and connects: Return presses "Check Communication", the default button, then
# "Run Manager" is clicked. Sets $comm and $main; calls $1 (if given) with "communication" and "connected".
wine_connect() {
  local box
  timeout -k 5 240 wine "$program" >"$out/pinwright.out" 2>&1 &
  app=$! app_name=pinwright.exe
  watch "$app" pinwright.exe "$out/pinwright.out"
  comm="$(window '^Setting Communication $')" || fail "the communication dialog did not show"
  until_ready "$comm" "the communication dialog"
  [ -n "${1:-}" ] && "$1" communication
  xdotool windowfocus --sync "$comm" key Return
  box="$(message_box)" || fail "no answer to Check Communication"
  until_ready "$box" "the message box"
  [ -n "${1:-}" ] && "$1" connected
  dismiss "Printer is connected."
  click "$comm" 136 1030
  main="$(window 'Pinwright Manger\(For')" || fail "the main dialog did not show"
  until_ready "$main" "the main dialog"
}

# Opens the About box from the main dialog's system menu: Alt+Space opens it, Up goes round to its last
# entry, ours (wine's own "About Wine" takes the mnemonic A).
open_about() {
  local before
  before="$(showing)"
  xdotool windowfocus --sync "$main" key alt+space
  until_showing $((before + 1)) || fail "the system menu did not open"
  [ -n "${1:-}" ] && "$1" system-menu
  xdotool key Up Return
  about="$(window '^About Pinwright Manger$')" || fail "the system menu did not open the About box"
  until_ready "$about" "the About box"
}
