# Shared by the real-window test and scripts/screenshots: a virtual X display with pinwright-sim, and
# helpers that drive pinwright with X11 mouse and keyboard events. Source it, then call x11_start.
# Needs: $program, $sim, $layout (pinwright-layout) and $out (a folder for the run's files).

source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/wait.sh"

x11_start() {
  xvfb_start || exit 1
  trap x11_stop EXIT
  x11_sim_start "$@"
  export PINWRIGHT_COM1="$out/tty"
}

# x11_sim_start [SIMULATOR OPTIONS...]: pinwright-sim on $out/tty, its printer kept in $out/printer.state.
x11_sim_start() {
  "$sim" --link "$out/tty" --state "$out/printer.state" "$@" >"$out/sim.out" 2>"$out/sim.log" &
  simpid=$!
  watch "$simpid" pinwright-sim "$out/sim.log"
  wait_for "pinwright-sim to name its pseudo-terminal" 10 test -s "$out/sim.out" || exit 1
}

# x11_sim_restart [SIMULATOR OPTIONS...]: the same printer, started anew with other options.
x11_sim_restart() {
  unwatch "$simpid"
  kill "$simpid"
  wait "$simpid" 2>/dev/null || true
  rm -f "$out/sim.out"
  x11_sim_start "$@"
}

x11_stop() {
  [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
  [ -n "${simpid:-}" ] && kill "$simpid" 2>/dev/null || true
  xvfb_stop
}

fail() { import -window root "$out/failure.png" 2>/dev/null || true; echo "$*" >&2; exit 1; }

# The first visible window whose name matches, waiting up to 15 s for it.
window() {
  wait_for "a window named '$1'" 15 xdotool search --onlyvisible --name "$1" || return 1
  xdotool search --onlyvisible --name "$1" | head -n1
}

# Clicks the middle of a control, given the window, its template id and the control id.
click() {
  local win="$1" geometry x y w h
  geometry="$("$layout" "$2" "$3")" || fail "no control $3 in template $2"
  read -r x y w h <<<"$geometry"
  xdotool mousemove --window "$win" $((x + w / 2)) $((y + h / 2)) click 1
}

# How many of the program's windows are showing (a dropped-down list is one of them).
showing() { xdotool search --onlyvisible --class pinwright 2>/dev/null | wc -l; }

# Waits until `showing` gives $1, for up to 5 s.
showing_is() { [ "$(showing)" -eq "$1" ]; }
until_showing() { wait_for "$1 of the program's windows to show" 5 showing_is "$1"; }

# Chooses in a drop-down list: a click opens it, arrow keys move, Return takes the item. Keys are sent only
# once the list shows, so none can reach the dialog behind it.
choose() {
  local win="$1" template="$2" id="$3" key="$4" count="$5" before
  before="$(showing)"
  click "$win" "$template" "$id"
  until_showing $((before + 1)) || fail "the list of control $id did not open"
  for _ in $(seq "$count"); do xdotool key "$key"; done
  xdotool key Return
  until_showing "$before" || fail "the list of control $id did not close"
}

# Whether a window is mapped and viewable; a destroyed one is not.
viewable() { xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }
closed() { ! viewable "$1"; }

# Whether a window holds the keyboard focus (the program's own windows take it when they show).
focused() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]; }

# Whether a window has been drawn: its picture has more colours than the root that shows through a window
# not yet drawn (black, or Xvfb's two-colour weave).
drawn() { [ "$(import -window "$1" -format %k info: 2>/dev/null)" -gt 2 ]; }

# until_ready WINDOW WHAT: waits until WINDOW (WHAT: "the main dialog") has the focus, as it takes it once it
# shows, so that it takes the keys and clicks that follow; for the screenshots, also until it is drawn.
until_ready() {
  wait_for "$2 to take the focus" 10 focused "$1" || fail "$2 did not take the focus"
  wait_for "$2 to be drawn" 10 drawn "$1" || fail "$2 was not drawn"
}

# The message box now showing (pinwright's boxes carry the program's name as caption).
message_box() { window '^pinwright$'; }

# Presses Return in the message box now showing (the text it should say: $1), and waits until it has gone:
# the window behind it takes input again once it has.
dismiss() {
  local box
  box="$(message_box)" || fail "no message box: $1"
  xdotool windowfocus --sync "$box" key Return
  wait_for "the message box '$1' to close" 10 closed "$box" || fail "the message box '$1' did not close"
}

# Starts the program and connects through the communication dialog at 115200 baud; sets $comm and $main.
connect() {
  local box
  "$program" >"$out/pinwright.out" 2>&1 &
  app=$! app_name=pinwright
  watch "$app" pinwright "$out/pinwright.out"
  comm="$(window '^Setting Communication $')" || fail "the communication dialog did not show"
  until_ready "$comm" "the communication dialog"
  [ -n "${1:-}" ] && "$1" communication
  choose "$comm" 136 1024 Down 4
  click "$comm" 136 1001
  box="$(message_box)" || fail "no answer to Check Communication"
  until_ready "$box" "the message box"
  [ -n "${1:-}" ] && "$1" connected
  dismiss "Printer is connected."
  click "$comm" 136 1030
  main="$(window 'Pinwright Manger\(For')" || fail "the main dialog did not show"
  until_ready "$main" "the main dialog"
}

ended() { ! kill -0 "$app" 2>/dev/null; }

# ends_with_zero WHEN SECONDS: the program ($app, named $app_name) ends within SECONDS, WHEN ("after the
# close"), with status 0.
ends_with_zero() {
  local status=0
  unwatch "$app"
  wait_for "$app_name to end $1" "$2" ended || fail "$app_name did not end $1"
  wait "$app" || status=$?
  app=""
  [ "$status" -eq 0 ] || fail "exit status $status $1"
}
