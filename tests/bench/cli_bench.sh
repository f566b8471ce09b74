#!/usr/bin/env bash
# pinwright-cli against pinwright-sim: `apply --force` on 8 printers at once against `apply --force` on one
# (wall times and their ratio; the goal is at most 1.15), on pseudo-terminals and on network printers over
# loopback; `get` on one printer against the Get Status floor (2070 ms of fixed waits), and `apply` of the
# settings a printer already holds against `get`. Usage: cli_bench.sh BUILD_DIR [--quick]
set -euo pipefail
build="$1"
quick="${2:-}"
runs=5
[ "$quick" = "--quick" ] && runs=1
cli="$build/pinwright-cli"
work="$(mktemp -d)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

ports=()
for i in 1 2 3 4 5 6 7 8; do
  "$build/pinwright-sim" --link "$work/p$i" --state "$work/s$i" >/dev/null &
  pids+=($!)
  ports+=(-p "$work/p$i")
done
for i in 1 2 3 4 5 6 7 8; do
  for _ in $(seq 100); do [ -e "$work/p$i" ] && break; sleep 0.05; done
  [ -e "$work/p$i" ] || { echo "cli_bench: waited 5 s for pinwright-sim $i to link $work/p$i"; exit 1; }
done
# The same printers on the network: each announces its loopback address on its first line.
addresses=()
for i in 1 2 3 4 5 6 7 8; do
  "$build/pinwright-sim" --listen 127.0.0.1:0 --state "$work/n$i" >"$work/n$i.out" &
  pids+=($!)
done
for i in 1 2 3 4 5 6 7 8; do
  for _ in $(seq 100); do grep -q '^tcp: ' "$work/n$i.out" 2>/dev/null && break; sleep 0.05; done
  line="$(head -n1 "$work/n$i.out")"
  [ "${line#tcp: }" != "$line" ] || { echo "cli_bench: waited 5 s for network pinwright-sim $i to say its address"; exit 1; }
  addresses+=(-p "tcp://${line#tcp: }")
done
"$cli" -p "$work/p1" get -o "$work/shop.sts" >/dev/null
# Printers that take the probes apart bit by bit at their own line, for --baud auto: at the first line
# tried (9600 8N1), at 115200 8N1 (the 25th) and at the last (115200 7N1), and a silent one. The tool's
# data length and parity reach them through the preloaded line report (a pseudo-terminal keeps neither).
mkdir -p "$work/reports"
report=(env LD_PRELOAD="$build/tests/libpinwright_line_report.so" PINWRIGHT_LINE_REPORT_DIR="$work/reports")
for rate in 9600:00000000 115200:10000000 last:10000010 silent:10000000; do
  extra=()
  [ "${rate%%:*}" = silent ] && extra=(--fault silent)
  "$build/pinwright-sim" --link "$work/auto-${rate%%:*}" --enforce-line --line-report "$work/reports" \
    --switch "9=${rate#*:}" "${extra[@]}" >/dev/null &
  pids+=($!)
  for _ in $(seq 100); do [ -e "$work/auto-${rate%%:*}" ] && break; sleep 0.05; done
  [ -e "$work/auto-${rate%%:*}" ] || { echo "cli_bench: waited 5 s for pinwright-sim to link $work/auto-${rate%%:*}"; exit 1; }
done

# Median wall time in ms of `runs` runs of the command; fails when the command fails.
median_ms() {
  local times=() start end
  for _ in $(seq "$runs"); do
    start=$(date +%s%N)
    "$@" >/dev/null 2>"$work/err" || { echo "cli_bench: failed: $*"; cat "$work/err"; exit 1; }
    end=$(date +%s%N)
    times+=($(( (end - start) / 1000000 )))
  done
  local sorted=($(printf '%s\n' "${times[@]}" | sort -n))
  echo "${sorted[$(( ${#sorted[@]} / 2 ))]}"
}

# The printers hold shop.sts already: --force makes apply write, as a printer to be changed would be.
one=$(median_ms "$cli" -p "$work/p1" apply --force "$work/shop.sts")
eight=$(median_ms "$cli" "${ports[@]}" apply --force "$work/shop.sts")
get=$(median_ms "$cli" -p "$work/p1" get)
held=$(median_ms "$cli" -p "$work/p1" apply "$work/shop.sts")
net_one=$(median_ms "$cli" "${addresses[@]:0:2}" apply --force "$work/shop.sts")
net_eight=$(median_ms "$cli" "${addresses[@]}" apply --force "$work/shop.sts")
known=$(median_ms "$cli" --baud 115200 -p "$work/auto-115200" get)
auto_first=$(median_ms "${report[@]}" "$cli" --baud auto -p "$work/auto-9600" get)
auto_115200=$(median_ms "${report[@]}" "$cli" --baud auto -p "$work/auto-115200" get)
auto_last=$(median_ms "${report[@]}" "$cli" --baud auto -p "$work/auto-last" get)
status_known=$(median_ms "$cli" --baud 115200 -p "$work/auto-115200" status)
status_115200=$(median_ms "${report[@]}" "$cli" --baud auto -p "$work/auto-115200" status)
status_last=$(median_ms "${report[@]}" "$cli" --baud auto -p "$work/auto-last" status)
start=$(date +%s%N)
status=0
"${report[@]}" "$cli" --baud auto -p "$work/auto-silent" get >/dev/null 2>&1 || status=$?
silent=$(( ($(date +%s%N) - start) / 1000000 ))
[ "$status" -eq 3 ] || { echo "cli_bench: a silent printer under --baud auto ended with $status, not 3"; exit 1; }
echo
echo "pinwright-cli against pinwright-sim (pty or loopback TCP, unpaced), median of $runs:"
echo
echo "| Run | Median wall | Against |"
echo "|---|---:|---|"
echo "| apply --force, 1 printer | $one ms | |"
echo "| apply --force, 8 printers at once | $eight ms | $(awk -v a="$eight" -v b="$one" 'BEGIN { printf "%.3f x one printer (goal <= 1.15)", a / b }') |"
echo "| apply --force, 1 network printer (loopback) | $net_one ms | |"
echo "| apply --force, 8 network printers at once | $net_eight ms | $(awk -v a="$net_eight" -v b="$net_one" 'BEGIN { printf "%.3f x one printer (goal <= 1.15)", a / b }') |"
echo "| get, 1 printer | $get ms | $(awk -v a="$get" 'BEGIN { printf "%.3f x the Get Status floor of 2070 ms", a / 2070 }') |"
echo "| get at a known rate (115200), a printer that understands only its own rate | $known ms | |"
echo "| get --baud auto, printer at 9600 8N1 (tried first) | $auto_first ms | $(awk -v a="$auto_first" -v b="$known" 'BEGIN { printf "goal <= %d ms (1.2 x get + 1 s)", 1.2 * b + 1000 }') |"
echo "| get --baud auto, printer at 115200 8N1 (25th) | $auto_115200 ms | $(awk -v a="$auto_115200" -v b="$known" 'BEGIN { printf "search %d ms", a - b }') |"
echo "| get --baud auto, printer at 115200 7N1 (the last) | $auto_last ms | $(awk -v a="$auto_last" -v b="$known" 'BEGIN { printf "search %d ms (goal <= 5000)", a - b }') |"
echo "| status at a known rate (115200) | $status_known ms | |"
echo "| status --baud auto, printer at 115200 8N1 (25th) | $status_115200 ms | |"
echo "| status --baud auto, printer at 115200 7N1 (the last) | $status_last ms | goal <= 5000 ms |"
echo "| get --baud auto, a silent printer: exit 3 | $silent ms | goal <= 5000 ms |"
echo "| apply, 1 printer that holds the file | $held ms | $(awk -v a="$held" -v b="$get" 'BEGIN { printf "%.3f x get (nothing written)", a / b }') |"
