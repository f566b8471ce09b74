#!/usr/bin/env bash
# pinwright-cli on a fleet: get and status on 256 printers at once against one, on pseudo-terminals and on
# loopback addresses (one pinwright-sim serving all 256), with the most descriptors and threads the run held;
# then discover of a loopback /24 with 8 printers in it. Usage: fleet_bench.sh BUILD_DIR [--quick]
set -euo pipefail
build="$1"
quick="${2:-}"
runs=5
[ "$quick" = "--quick" ] && runs=1
cli="$build/pinwright-cli"
sim="$build/pinwright-sim"
work="$(mktemp -d)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# start_sim NAME LINES ARGS...: a simulator whose first LINES lines name its printers, within 10 s.
start_sim() {
  local name="$1" lines="$2"
  shift 2
  "$sim" "$@" >"$work/$name.out" 2>/dev/null &
  pids+=($!)
  for _ in $(seq 200); do [ "$(wc -l <"$work/$name.out")" -ge "$lines" ] && return 0; sleep 0.05; done
  echo "fleet_bench: waited 10 s for pinwright-sim ($name) to name its $lines printers" >&2
  exit 1
}

start_sim pty 256 --count 256
listen=()
for i in $(seq 0 255); do listen+=(--listen "127.0.$((1 + i / 250)).$((1 + i % 250)):0"); done
start_sim net 256 "${listen[@]}"
pty=() net=()
while read -r _ path; do pty+=(-p "$path"); done <"$work/pty.out"
while read -r _ address; do net+=(-p "tcp://$address"); done <"$work/net.out"

# Median wall time in ms of `runs` runs; the command must end in 0.
median_ms() {
  local times=() start end
  for _ in $(seq "$runs"); do
    start=$(date +%s%N)
    "$@" >/dev/null 2>"$work/err" || { echo "fleet_bench: failed: ${*:1:4} ..." >&2; head -5 "$work/err" >&2; exit 1; }
    end=$(date +%s%N)
    times+=($(((end - start) / 1000000)))
  done
  local sorted=($(printf '%s\n' "${times[@]}" | sort -n))
  echo "${sorted[$((${#sorted[@]} / 2))]}"
}

# The most descriptors and threads one more run of the command held, sampled every 10 ms.
peak_of() {
  local pid fds=0 threads=0 f t
  "$@" >/dev/null 2>&1 &
  pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    f=$(ls "/proc/$pid/fd" 2>/dev/null | wc -l) || f=0
    t=$(awk '/^Threads/ { print $2 }' "/proc/$pid/status" 2>/dev/null) || t=0
    [ "${f:-0}" -gt "$fds" ] && fds=$f
    [ "${t:-0}" -gt "$threads" ] && threads=$t
    sleep 0.01
  done
  wait "$pid" || true
  echo "$fds descriptors, $threads threads"
}

echo
echo "pinwright-cli on 256 printers in one run against one (one pinwright-sim serving all), median of $runs:"
echo
echo "| Run | One printer | 256 at once | 256 / one | Peak of the 256 run |"
echo "|---|---:|---:|---:|---|"
for link in pty net; do
  declare -n ports="$link"
  for command in get status; do
    one=$(median_ms "$cli" "${ports[@]:0:2}" "$command")
    all=$(median_ms "$cli" "${ports[@]}" "$command")
    peak=$(peak_of "$cli" "${ports[@]}" "$command")
    echo "| $command, $link | $one ms | $all ms | $(awk -v a="$all" -v b="$one" 'BEGIN { printf "%.2f", a / b }') | $peak |"
  done
done

# discover: a /24 of loopback with 8 printers in it, 246 addresses that refuse, on a port of their own.
if "$cli" --help | grep -q '^  discover'; then
  port=$((20000 + RANDOM % 20000))
  eight=()
  for i in 11 42 77 100 133 166 199 250; do eight+=(--listen "127.0.9.$i:$port"); done
  start_sim disc 8 "${eight[@]}"
  took=$(median_ms "$cli" discover --port "$port" 127.0.9.0/24)
  found=$("$cli" --json discover --port "$port" 127.0.9.0/24 | grep -c '"port"' || true)
  peak=$(peak_of "$cli" discover --port "$port" 127.0.9.0/24)
  echo "| discover 127.0.9.0/24, 8 printers | | $took ms | goal <= 3000 ms | $found found; $peak |"
fi
