#!/usr/bin/env bash
# --help and --version answer without a display, and any other argument is refused with status 2 before
# Qt starts. Usage: arguments.sh PINWRIGHT PINWRIGHT_SIM VERSION
set -uo pipefail
program="$1"
sim="$2"
version="$3"
out="$(mktemp)"
err="$(mktemp)"
trap 'rm -f "$out" "$err"' EXIT
failed=0
fail() { echo "FAIL: $*"; echo "  stdout: $(head -c 300 "$out")"; echo "  stderr: $(head -c 300 "$err")"; failed=1; }

# No display of any kind: Qt, had it started, would abort with "could not connect to display".
run() {
  timeout 10 env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@" >"$out" 2>"$err"
  local status=$?
  [ $status -ne 124 ] || echo "Timed out after 10 s waiting for '$*' to end." >&2
  return $status
}

run "$program" --help
status=$?
[ $status -eq 0 ] || fail "pinwright --help: status $status"
grep -q '^Usage: pinwright \[--help | --version\]' "$out" || fail "pinwright --help: no usage line"
grep -q 'PINWRIGHT_COM1' "$out" || fail "pinwright --help: the environment is not explained"
[ ! -s "$err" ] || fail "pinwright --help wrote to standard error"

run "$program" --version
status=$?
[ $status -eq 0 ] || fail "pinwright --version: status $status"
[ "$(cat "$out")" = "pinwright $version" ] || fail "pinwright --version: not 'pinwright $version'"

# Refused before Qt starts: even Qt's own -platform option, which Qt would take and then open the windows.
for args in "--bogus" "-platform offscreen" "--help extra" "--version --help" "file.sts"; do
  # shellcheck disable=SC2086
  run "$program" $args
  status=$?
  [ $status -eq 2 ] || fail "pinwright $args: status $status, not 2"
  grep -q '^Usage: pinwright' "$err" || fail "pinwright $args: no usage message on standard error"
  grep -qi 'display\|qt\.' "$err" && fail "pinwright $args: Qt started"
  [ ! -s "$out" ] || fail "pinwright $args wrote to standard output"
done

run "$sim" --version
status=$?
[ $status -eq 0 ] || fail "pinwright-sim --version: status $status"
[ "$(cat "$out")" = "pinwright-sim $version" ] || fail "pinwright-sim --version: not 'pinwright-sim $version'"
run "$sim" --help
grep -q -- '--version' "$out" || fail "pinwright-sim --help does not list --version"
grep -q -- '--listen \[HOST:\]PORT' "$out" || fail "pinwright-sim --help does not list --listen"
for option in '--count N' '--control FILE' 'paper-out' 'status-byte=N:HEX' 'status-silent=N\[,N\]'; do
  grep -q -- "$option" "$out" || fail "pinwright-sim --help does not list $option"
done
# A listening address it cannot take, and printers or faults it cannot be, are refused before anything is
# opened.
for args in "--listen ::1:9100" "--listen 127.0.0.1:" "--listen 127.0.0.1:65536" "--listen 0 --link /tmp/x" \
            "--listen" "--listen 0 --count 2" "--count 0" "--count" "--control" "--fault paper-out=1" \
            "--fault status-byte=5:12" "--fault status-byte=1:" "--fault status-byte=1" "--fault status-silent=0" \
            "--fault status-silent=1,x"; do
  # shellcheck disable=SC2086
  run "$sim" $args
  status=$?
  [ $status -eq 2 ] || fail "pinwright-sim $args: status $status, not 2"
  [ ! -s "$out" ] || fail "pinwright-sim $args announced a line"
done

[ $failed -eq 0 ] && echo "help, version and refusals answered without a display"
exit $failed
