#!/usr/bin/env bash
# pinwright-cli end to end under wine, compared with Linux: the same commands (check; get with a status
# file; set with a baud change and its read-back; apply of the saved file at the new line settings; get)
# from the Linux and the Windows build, each against a fresh pinwright-sim with the same switches, the
# Windows one through wine's COM1 (and, for the last get, "\\.\COM12") pointed at the simulator's
# pseudo-terminal. The printer must receive the same bytes and send the same replies, both programs must
# print the same and end the same, and the printers and the saved status files must end the same. Then,
# on Windows: a port that is not there, names that are no port (a file named in the device namespace, a
# COM port mapped to a file: refused with status 2, the file untouched), status files named outside ASCII
# (get -o, show and apply, compared with Linux), the list of ports, Ctrl-C during apply, and doctor on a COM
# port another program holds. Last, a network printer (pinwright-sim --listen on loopback), through
# Winsock: get, set and doctor, compared with Linux the same way.
# Usage: cli_e2e.sh SIM LINUX_CLI WINDOWS_CLI WORK_DIR
set -euo pipefail
sim="$1" linux_cli="$2" windows_cli="$3" work="$4"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/wine_lib.sh"
source "$here/../../scripts/lib/wait.sh"
source "$here/sim_lib.sh"
for f in "$sim" "$linux_cli"; do
  [ -x "$f" ] || { echo "cli_e2e: $f is missing: build Linux first (scripts/build)" >&2; exit 1; }
done
rm -rf "$work/linux" "$work/windows" "$work/ctrl-c" "$work/names" "$work/net-linux" "$work/net-windows"
mkdir -p "$work/linux" "$work/windows" "$work/ctrl-c" "$work/names" "$work/net-linux" "$work/net-windows"
trap 'sim_stop; wine_stop' EXIT
started=$(date +%s)

# step SIDE NAME ARGS...: one run of the side's program in the side's folder, bounded; its standard
# output, error and status in NAME.out, NAME.err, NAME.status.
step() {
  local side="$1" name="$2" status=0
  shift 2
  if [ "$side" = linux ]; then
    (cd "$work/linux" && PINWRIGHT_COM1="$work/linux/printer" timeout -k 5 60 "$linux_cli" "$@") \
      >"$work/linux/$name.out" 2>"$work/linux/$name.err" || status=$?
  else
    (cd "$work/windows" && timeout -k 5 90 wine "$windows_cli" "$@") \
      >"$work/windows/$name.out" 2>"$work/windows/$name.err" || status=$?
  fi
  echo "$status" >"$work/$side/$name.status"
  if [ "$status" -eq 124 ]; then echo "cli_e2e: $side: '$*' did not end within its bound" >&2; fi
}

# The printer starts at 115200 8N1 (switch 9), PC850 and full cut (switch 2), as it comes from the factory.
steps() {
  local side="$1" last_port="$2"
  sim_start "$work/$side" --switch 9=10000000 --switch 2=00010100
  step "$side" 1-check -p COM1 check
  step "$side" 2-get --json -p COM1 get -o saved.sts
  step "$side" 3-set --json -p COM1 set baud-rate=19200 code-page=PC857 auto-line-feed=on
  step "$side" 4-apply --json --baud 19200 -p COM1 apply saved.sts
  step "$side" 5-get --json --baud 115200 -p "$last_port" get
  # Twice: the second metrics file is renamed over the first.
  step "$side" 6-status --json -p COM1 status --metrics node.prom
  step "$side" 6-status --json -p COM1 status --metrics node.prom
  sim_stop
}

echo "--- Linux"
steps linux COM1

echo "--- Windows, under wine"
wine_env "$work/wineprefix"
wine_init
# COM5 leads to a file, as a port mapped by mistake would: it must never be written.
printf 'not a port: keep me\n' >"$work/windows/not-a-port.sts"
wine_map_com 1 "$work/windows/printer" 12 "$work/windows/printer" 2 "$work/ctrl-c/printer" \
  3 "$work/names/printer" 5 "$work/windows/not-a-port.sts"
wine_server_start
windows_started=$(date +%s)
steps windows '\\.\COM12'
windows_took=$(($(date +%s) - windows_started))

fail=0
# What Windows prints, with its line ends and its name of the last port as on Linux.
normal() { tr -d '\r' <"$1" | sed -e 's/^\\\\\.\\COM12:/COM1:/' -e 's/"port": "\\\\\\\\.\\\\COM12"/"port": "COM1"/'; }
for name in 1-check 2-get 3-set 4-apply 5-get 6-status; do
  for part in status out err; do
    if ! diff -u "$work/linux/$name.$part" <(normal "$work/windows/$name.$part") >"$work/windows/$name.$part.diff"; then
      echo "cli_e2e: $name: the $part differs between Linux and Windows:" >&2
      head -30 "$work/windows/$name.$part.diff" >&2
      fail=1
    fi
  done
  if [ "$(cat "$work/linux/$name.status")" != 0 ]; then
    echo "cli_e2e: $name ended with status $(cat "$work/linux/$name.status"):" >&2
    cat "$work/linux/$name.err" >&2
    fail=1
  fi
done
grep -q '"baud-rate": 19200' "$work/linux/3-set.out" ||
  { echo "cli_e2e: set did not read back 19200 baud" >&2; fail=1; }
grep -q 'reading back at 19200 8N1' "$work/windows/3-set.err" ||
  { echo "cli_e2e: set did not reopen the port at 19200 8N1 on Windows" >&2; fail=1; }
cmp "$work/linux/saved.sts" "$work/windows/saved.sts" ||
  { echo "cli_e2e: the status files saved by get differ" >&2; fail=1; }
sim_compare "$work/linux" "$work/windows" || fail=1
grep -q '^switch 9 = 10000000' "$work/windows/state" ||
  { echo "cli_e2e: apply did not bring back the printer's first switch 9" >&2; fail=1; }

echo "--- --baud auto, a printer at 38400 that understands no other rate"
for side in linux windows; do
  mkdir -p "$work/auto-$side"
  SIM_LINK="$work/$side/printer" sim_start "$work/auto-$side" --enforce-line --switch 9=01000000
  step "$side" 7-auto --json --baud auto -p COM1 get
  sim_stop
done
if [ "$(cat "$work/windows/7-auto.status")" != 0 ] || ! grep -q '"baud": 38400' "$work/windows/7-auto.out"; then
  echo "cli_e2e: --baud auto did not find the printer at 38400 through COM1:" >&2
  cat "$work/windows/7-auto.status" "$work/windows/7-auto.out" "$work/windows/7-auto.err" >&2
  fail=1
fi
diff -u "$work/linux/7-auto.out" <(normal "$work/windows/7-auto.out") >&2 ||
  { echo "cli_e2e: --baud auto's results differ between Linux and Windows" >&2; fail=1; }
# At a wrong rate the printer got only status queries, one for each of the six frames of a rate and a
# confirmation where something answered: at most 36 bytes a rate.
if ! awk '/<- \(garbled: line at/ {
            match($0, /line at [0-9]+/); rate = substr($0, RSTART + 8, RLENGTH - 8)
            hex = substr($0, index($0, ") ") + 1); bytes[rate] = bytes[rate] hex; count[rate] += split(hex, b, " ") }
          END { bad = 0
                for (r in count) {
                  if (count[r] > 36) { print "probes at " r " carried " count[r] " bytes"; bad = 1 }
                  s = bytes[r]; gsub(/ 10 04 04| 10 04 01/, "", s)
                  if (s != "") { print "not a query at " r ":" s; bad = 1 } }
                exit bad }' "$work/auto-windows/trace" >&2; then
  echo "cli_e2e: --baud auto sent more than short queries at a wrong rate" >&2
  fail=1
fi

echo "--- Windows: a port that is not there"
step windows 6-absent -p '\\.\COM13' check
if [ "$(cat "$work/windows/6-absent.status")" != 2 ] || ! grep -q 'There is no COM13' "$work/windows/6-absent.err"; then
  echo "cli_e2e: \\\\.\\COM13 (not mapped) should end with status 2 and 'There is no COM13':" >&2
  cat "$work/windows/6-absent.status" "$work/windows/6-absent.err" >&2
  fail=1
fi

echo "--- Windows: names that are no port"
cp "$work/windows/saved.sts" "$work/windows/shop.sts"
# check: Z:\...\shop.sts in the device namespace; the mapped COM5; a pipe.
windows_path="Z:$(tr / '\\' <<<"$work/windows/shop.sts")"
step windows 6b-file-port -p "\\\\?\\$windows_path" check
step windows 6c-mapped-file --json -p COM5 check
step windows 6d-pipe -p '\\.\pipe\spooler' check
for name in 6b-file-port 6c-mapped-file 6d-pipe; do
  if [ "$(cat "$work/windows/$name.status")" != 2 ] || ! grep -q 'is not a printer port' "$work/windows/$name.err"; then
    echo "cli_e2e: $name should end with status 2, saying the name is not a printer port:" >&2
    cat "$work/windows/$name.status" "$work/windows/$name.err" >&2
    fail=1
  fi
done
grep -q 'COM5 is not a printer port: it leads to a file' "$work/windows/6c-mapped-file.out" ||
  { echo "cli_e2e: COM5, mapped to a file, was not refused by its type:" >&2; cat "$work/windows/6c-mapped-file.out" >&2; fail=1; }
cmp -s "$work/windows/saved.sts" "$work/windows/shop.sts" ||
  { echo "cli_e2e: the status file named as a port was written to" >&2; fail=1; }
[ "$(cat "$work/windows/not-a-port.sts")" = 'not a port: keep me' ] ||
  { echo "cli_e2e: the file behind COM5 was written to" >&2; fail=1; }

echo "--- Windows: status files and traces named outside ASCII"
# Latin-1, Greek, CJK and a character outside the BMP (a UTF-16 surrogate pair), in a folder named so too.
name='café Ωmega 日本 🖨.sts'
mkdir -p "$work/windows/José" "$work/linux/José"
sim_start "$work/names" --switch 9=10000000 --switch 2=00010100
step windows 10-get-name --json --trace "José\\$name.trace" -p COM3 get -o "José\\$name"
step windows 11-show-name --json show "José\\$name"
step windows 12-apply-name -p COM3 apply "José\\$name"
sim_stop
cp "$work/linux/saved.sts" "$work/linux/José/$name"
step linux 11-show-name --json show "José/$name"
for n in 10-get-name 11-show-name 12-apply-name; do
  if [ "$(cat "$work/windows/$n.status")" != 0 ]; then
    echo "cli_e2e: $n ended with status $(cat "$work/windows/$n.status"):" >&2
    cat "$work/windows/$n.err" >&2
    fail=1
  fi
done
grep -q ' -> ' "$work/windows/José/$name.trace" ||
  { echo "cli_e2e: --trace did not write the trace under its name:" >&2; ls "$work/windows" "$work/windows/José" >&2; fail=1; }
cmp -s "$work/windows/José/$name" "$work/linux/saved.sts" ||
  { echo "cli_e2e: get -o did not save the status file under its name:" >&2; ls "$work/windows" "$work/windows/José" >&2; fail=1; }
# The file as each system names it: the folder's separator differs.
if ! diff -u <(sed 's|^\(  "file": "[^/]*\)/|\1\\\\|' "$work/linux/11-show-name.out") <(tr -d '\r' <"$work/windows/11-show-name.out") >&2; then
  echo "cli_e2e: show of a file named outside ASCII differs between Linux and Windows" >&2
  fail=1
fi

echo "--- Windows: ports"
step windows 7-ports --json ports
if [ "$(cat "$work/windows/7-ports.status")" != 0 ] ||
  ! tr -d '\r' <"$work/windows/7-ports.out" | grep -A2 '"port": "COM1"' | grep -q '"present": true' ||
  [ "$(grep -c '"port": ' "$work/windows/7-ports.out")" != 12 ]; then
  echo "cli_e2e: ports should list the dialogs' twelve ports, COM1 (mapped) present:" >&2
  cat "$work/windows/7-ports.out" "$work/windows/7-ports.err" >&2
  fail=1
fi

echo "--- Windows: Ctrl-C during apply"
# PC437 and partial cut: the saved file's PC850 and full cut are to be written.
sim_start "$work/ctrl-c" --switch 2=00000000
(cd "$work/ctrl-c" && exec timeout -k 5 90 wine "$windows_cli" -p COM2 apply ../windows/saved.sts) \
  >"$work/ctrl-c/apply.out" 2>"$work/ctrl-c/apply.err" &
cli_pid=$!
watch "$cli_pid" pinwright-cli.exe "$work/ctrl-c/apply.err"
wait_for "the printer to enter user setting mode" 30 grep -q -- '-- user setting mode' "$work/ctrl-c/trace"
unwatch "$cli_pid"
kill -INT "$cli_pid"
status=0
wait "$cli_pid" || status=$?
sim_stop
trace="$(cat "$work/ctrl-c/trace")"
if [ "$status" -ne 130 ] || ! grep -q '^COM2: interrupted' "$work/ctrl-c/apply.err"; then
  echo "cli_e2e: Ctrl-C during apply should end with status 130 and 'COM2: interrupted', got $status:" >&2
  cat "$work/ctrl-c/apply.err" >&2
  fail=1
fi
if ! sed -n '/-- user setting mode/,$p' <<<"$trace" | grep -q -- '-- settings applied; printer reset'; then
  echo "cli_e2e: after Ctrl-C the printer was left in user setting mode" >&2
  fail=1
fi
if sed -n '/-- settings applied; printer reset/,$p' <<<"$trace" | grep -q -- '<- 1D 28 45 02 00 04'; then
  echo "cli_e2e: a read-back started after Ctrl-C" >&2
  fail=1
fi

echo "--- Windows: doctor names a COM port that another program holds"
# The apply's read-back waits for the printer's restart (8 s) with COM2 open: doctor looks meanwhile. The
# printer holds the file's settings since the apply above: --force writes them all the same.
sim_start "$work/ctrl-c" --switch 2=00000000 --restart 8000
(cd "$work/ctrl-c" && exec timeout -k 5 90 wine "$windows_cli" -p COM2 apply --force ../windows/saved.sts) \
  >"$work/ctrl-c/held.out" 2>"$work/ctrl-c/held.err" &
cli_pid=$!
watch "$cli_pid" pinwright-cli.exe "$work/ctrl-c/held.err"
wait_for "the printer to restart after the write" 30 grep -q -- '-- settings applied; printer reset' "$work/ctrl-c/trace"
step windows 12-doctor-held --json -p COM2 -p '\\.\COM13' doctor
unwatch "$cli_pid"
wait "$cli_pid" || true
step windows 13-doctor-free -p COM2 doctor
sim_stop
held="$(tr -d '\r' <"$work/windows/12-doctor-held.out")"
if [ "$(cat "$work/windows/12-doctor-held.status")" != 1 ] ||
  ! grep -q 'COM2 is held by pinwright-cli.exe (PID ' <<<"$held" || ! grep -q 'COM13 does not exist' <<<"$held"; then
  echo "cli_e2e: doctor should say that COM2 is held and COM13 is not there (status 1):" >&2
  cat "$work/windows/12-doctor-held.out" "$work/windows/12-doctor-held.err" >&2
  fail=1
fi
if [ "$(cat "$work/windows/13-doctor-free.status")" != 0 ] ||
  ! tr -d '\r' <"$work/windows/13-doctor-free.out" | grep -q 'No other program holds COM2'; then
  echo "cli_e2e: doctor should find COM2 free once the apply ended (status 0):" >&2
  cat "$work/windows/13-doctor-free.out" "$work/windows/13-doctor-free.err" >&2
  fail=1
fi

echo "--- A network printer, from Linux and from Windows"
net_steps() {
  local side="$1"
  sim_listen "$work/net-$side" --switch 9=10000000 --switch 2=00010100
  echo "$sim_address" >"$work/net-$side/address"
  step "$side" 8-net-get --json -p "$sim_address" get
  step "$side" 9-net-set --json -p "$sim_address" set code-page=PC858 auto-cutter=partial
  step "$side" 10-net-status -p "$sim_address" status
  step "$side" 11-net-discover --json discover --port "${sim_address##*:}" 127.0.0.1
  step "$side" 12-net-doctor -p "$sim_address" doctor
  sim_stop
}
net_steps linux
net_steps windows
# Each printer has an address of its own: both read as ADDRESS.
net_normal() {
  local address
  address="$(cat "$work/net-$2/address")"
  tr -d '\r' <"$1" | sed -e "s|$address|ADDRESS|g" -e "s|at port ${address##*:}:|at port PORT:|"
}
for name in 8-net-get 9-net-set 10-net-status 11-net-discover 12-net-doctor; do
  for part in status out err; do
    if ! diff -u <(net_normal "$work/linux/$name.$part" linux) <(net_normal "$work/windows/$name.$part" windows) \
      >"$work/windows/$name.$part.diff"; then
      echo "cli_e2e: $name: the $part differs between Linux and Windows:" >&2
      head -30 "$work/windows/$name.$part.diff" >&2
      fail=1
    fi
  done
  if [ "$(cat "$work/windows/$name.status")" != 0 ]; then
    echo "cli_e2e: $name ended with status $(cat "$work/windows/$name.status") on Windows:" >&2
    cat "$work/windows/$name.err" >&2
    fail=1
  fi
done
# The metrics files alike but for the time they were written.
if ! diff -u <(grep -v '^pinwright_status_last_run' "$work/linux/node.prom") \
  <(tr -d '\r' <"$work/windows/node.prom" | grep -v '^pinwright_status_last_run') >&2; then
  echo "cli_e2e: status --metrics wrote another file on Windows" >&2
  fail=1
fi
if ls -A "$work/windows" | grep -q '^\.node\.prom'; then
  echo "cli_e2e: status --metrics left its temporary file on Windows" >&2
  fail=1
fi
grep -q '"maker": "MERIDOX"' "$work/windows/11-net-discover.out" ||
  { echo "cli_e2e: discover did not find the printer on Windows" >&2; fail=1; }
grep -q '"code-page": "PC858"' "$work/windows/9-net-set.out" ||
  { echo "cli_e2e: set over the network did not read back PC858 on Windows" >&2; fail=1; }
sim_compare "$work/net-linux" "$work/net-windows" || fail=1

[ "$fail" -eq 0 ] && echo "cli_e2e: $(wc -l <"$work/windows/bytes<-") bytes received and" \
  "$(wc -l <"$work/windows/bytes->") sent, the same on Linux and Windows; Windows steps $windows_took s," \
  "all $(($(date +%s) - started)) s"
exit "$fail"
