#!/usr/bin/env bash
# pinwright_exporter.exe under wine: it reads a Linux pinwright-sim network printer through Winsock and
# answers the probe in the text format, refuses a target outside its allow list before connecting (the
# listener there sees nothing), refuses a web config that asks for TLS (this build has none), and serves its
# own metrics. Usage: exporter_e2e.sh SIM EXPORTER_EXE WORK_DIR
set -euo pipefail
sim="$1" exporter="$2" work="$3"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/wine_lib.sh"
source "$here/../../scripts/lib/wait.sh"
[ -x "$sim" ] || { echo "exporter_e2e: $sim is missing: build Linux first (scripts/build)" >&2; exit 1; }
rm -rf "$work/run"
mkdir -p "$work/run"
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wine_stop' EXIT
fail() { echo "exporter_e2e: $*" >&2; exit 1; }

"$sim" --listen 127.0.0.1:0 --fault paper-out --trace >"$work/run/sim.out" 2>"$work/run/sim.log" &
pids+=($!)
wait_for "pinwright-sim to say where it listens" 10 grep -q '^tcp: ' "$work/run/sim.out"
printer="$(sed -n 's/^tcp: //p' "$work/run/sim.out")"
# A listener the exporter must never reach.
python3 -c 'import socket,sys,select
s=socket.socket(); s.bind(("127.0.0.1",0)); s.listen(8); print(s.getsockname()[1], flush=True)
n=0
while select.select([s],[],[],30)[0]: s.accept()[0].close(); n+=1; print("connection", flush=True)' \
  >"$work/run/listener.out" &
pids+=($!)
wait_for "the listener to say its port" 10 grep -q . "$work/run/listener.out"
refused_port="$(head -n1 "$work/run/listener.out")"

wine_env "$work/wineprefix"
wine_init
printf 'targets:\n  allow: ["%s"]\nmodules:\n  default: {timeout: 3s}\n' "$printer" >"$work/run/exporter.yml"
printf 'tls_server_config: {cert_file: a.crt, key_file: a.key}\n' >"$work/run/web.yml"
status=0
(cd "$work/run" && timeout -k 5 60 wine "$exporter" --config.file exporter.yml --web.config.file web.yml \
  --web.listen-address 127.0.0.1:0) 2>"$work/run/tls.log" || status=$?
[ "$status" -eq 1 ] || fail "a web config asking for TLS ended $status, not 1: $(cat "$work/run/tls.log")"
grep -q 'this build has no TLS' "$work/run/tls.log" || fail "TLS refused without saying why: $(cat "$work/run/tls.log")"

(cd "$work/run" && exec timeout -k 5 120 wine "$exporter" --config.file exporter.yml --web.listen-address 127.0.0.1:0) \
  2>"$work/run/exporter.log" &
pids+=($!)
wait_for "pinwright_exporter.exe to say it listens" 60 grep -q 'msg="listening"' "$work/run/exporter.log"
address="$(sed -n 's/.*msg="listening" address="\([^"]*\)".*/\1/p' "$work/run/exporter.log")"

body="$(curl -sS --max-time 20 "http://$address/probe?target=tcp%3A%2F%2F$printer")"
grep -qx 'probe_success 1' <<<"$body" || fail "no probe_success 1: $body"
grep -qx "pinwright_printer_paper_out{port=\"tcp://$printer\"} 1" <<<"$body" || fail "no paper out: $body"
code="$(curl -sS --max-time 20 -o "$work/run/refused.txt" -w '%{http_code}' \
  "http://$address/probe?target=tcp://127.1:$refused_port")"
[ "$code" = 403 ] || fail "a target outside the allow list answered $code: $(cat "$work/run/refused.txt")"
code="$(curl -sS --max-time 20 -o /dev/null -w '%{http_code}' "http://$address/probe?target=tcp://127.0.0.1:$refused_port")"
[ "$code" = 403 ] || fail "a target outside the allow list answered $code"
sleep 0.5
! grep -q connection "$work/run/listener.out" || fail "the refused address was connected to"
metrics="$(curl -sS --max-time 20 "http://$address/metrics")"
grep -qx 'pinwright_exporter_refused_total{reason="forbidden"} 2' <<<"$metrics" || fail "refusals not counted: $metrics"
received="$(grep -o '<- [0-9A-F ]*' "$work/run/sim.log" | sort -u | tr '\n' ';')"
[ "$received" = "<- 10 04 01;<- 10 04 02;<- 10 04 03;<- 10 04 04;" ] || fail "the printer received more than DLE EOT 1-4: $received"
echo "Windows exporter test passed: probe, refusals, no TLS said"
