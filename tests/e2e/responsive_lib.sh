# Shared by the responsive-window tests, on Linux and under wine: the steps and checks around the program
# that do not depend on how its windows are pinged or closed. Source it after x11_lib.sh (or
# wine_x11_lib.sh). Needs: $out, $limit, $pingpid (from the test's own `pings`) and $main.

# pinged NAME: waits for the pings started as NAME; fails unless every one was answered within $limit ms.
pinged() {
  local status=0
  wait "$pingpid" || status=$?
  echo "$1: $(tail -n1 "$out/ping-$1.txt" | tr -d '\r')"
  [ "$status" -eq 0 ] || fail "$1: the window did not answer within $limit ms: $(tail -n1 "$out/ping-$1.txt")"
}

modes() { grep -c -- '-- user setting mode' "$out/sim.log" || true; }
in_second_mode() { [ "$(modes)" -eq 2 ]; }

# set_status_into_mode: after one Set Status, a second one, until the printer is in user setting mode.
set_status_into_mode() {
  [ "$(modes)" -eq 1 ] || fail "expected one user setting mode so far"
  click "$main" 102 1003 # Set Status
  wait_for "the printer to enter user setting mode" 5 in_second_mode || fail "Set Status did not start"
}

# left_setting_mode: the printer's last word is that it applied the settings, not that it is in the mode.
left_setting_mode() {
  local last
  last="$(grep -E -- '-- (user setting mode|settings applied)' "$out/sim.log" | tail -n1)"
  case "$last" in
  *"settings applied"*) ;;
  *) fail "the printer was left in user setting mode: $last" ;;
  esac
}
