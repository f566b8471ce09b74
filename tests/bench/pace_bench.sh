#!/usr/bin/env bash
# pinwright-cli at the printer's pace: get, set, apply and status against pinwright-sim with a pace of its
# own (115200 baud on the line, 5 ms to think before each reply, 500 ms to restart after user setting mode),
# each against the limit that pace sets: the bytes both ways at the line rate, the think time of each reply,
# and the restart for a write. The same for 256 printers at once. With PINWRIGHT_BEFORE_CLI naming another
# pinwright-cli (an earlier build), it is measured beside this one. Usage: pace_bench.sh BUILD_DIR [--quick]
set -euo pipefail
build="$1"
quick="${2:-}"
runs=5
[ "$quick" = "--quick" ] && runs=1
cli="$build/pinwright-cli"
before="${PINWRIGHT_BEFORE_CLI:-}"
sim="$build/pinwright-sim"
baud=115200 think=5 restart=500
work="$(mktemp -d)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# start_sim NAME LINES ARGS...: a paced simulator whose first LINES lines name its printers, within 10 s.
start_sim() {
  local name="$1" lines="$2"
  shift 2
  "$sim" --pace "$baud" --think "$think" --restart "$restart" "$@" >"$work/$name.out" 2>/dev/null &
  pids+=($!)
  for _ in $(seq 200); do [ "$(wc -l <"$work/$name.out")" -ge "$lines" ] && return 0; sleep 0.05; done
  echo "pace_bench: waited 10 s for pinwright-sim ($name) to name its $lines printers" >&2
  exit 1
}
start_sim one 1 --state "$work/one.state"
port="$(sed -n 's/^pty: //p' "$work/one.out")"
start_sim fleet 256 --count 256
fleet=()
while read -r _ p; do fleet+=(-p "$p"); done <"$work/fleet.out"

# ms PROGRAM ARGS...: the median wall time of `runs` runs; fails when the program fails.
ms() {
  local times=() start
  for _ in $(seq "$runs"); do
    start=$(date +%s%N)
    "$@" >/dev/null 2>"$work/err" || { echo "pace_bench: failed: $*" >&2; cat "$work/err" >&2; exit 1; }
    times+=($(( ($(date +%s%N) - start) / 1000000 )))
  done
  local sorted=($(printf '%s\n' "${times[@]}" | sort -n))
  echo "${sorted[$(( ${#sorted[@]} / 2 ))]}"
}
# limit TRACE WRITE: the pace's limit for the run traced: every byte both ways at ten bits a byte, the think
# time of each query that is answered once (identity, select check, switch, mode notice, status), and the
# restart after a write.
limit() {
  awk -v baud="$baud" -v think="$think" -v restart="$restart" '
    / -> | <- / { n = split(substr($0, index($0, ($0 ~ / -> / ? " -> " : " <- ")) + 4), b, " "); bytes += n }
    / -> 1D 49 | -> 1D 28 45 02 00 04 | -> 1D 28 45 03 00 01 49 4E| -> 10 04 0[1-4]$/ { queries++ }
    / -> 1D 28 45 04 00 02 4F 55 54/ { wrote = 1 }
    END { printf "%d", bytes * 10 * 1000 / baud + think * queries + (wrote ? restart : 0) }' "$1"
}
# The file apply writes: the printer's settings with another cutter, so that each apply changes it.
"$cli" --baud 115200 -p "$port" get -o "$work/a.sts" >/dev/null
"$cli" --baud 115200 -p "$port" set auto-cutter=partial >/dev/null
"$cli" --baud 115200 -p "$port" get -o "$work/b.sts" >/dev/null

row() { # NAME WRITES COMMAND...: WRITES 1 for a command that writes
  local name="$1" write="$2"
  shift 2
  "$cli" --trace "$work/trace" --baud 115200 -p "$port" "$@" >/dev/null 2>&1 || true
  local lim
  lim=$(limit "$work/trace")
  local after was=""
  after=$(ms "$cli" --baud 115200 -p "$port" "$@")
  [ -n "$before" ] && was=$(ms "$before" --baud 115200 -p "$port" "$@")
  local goal=$(( write ? 50 : 20 )) target
  target="goal <= $(( lim * 125 / 100 + goal )) ms (1.25 x limit + $goal ms)"
  [ "$name" = status ] && target="goal: unchanged or better"
  printf '| %s | %s | %d ms | %d ms | %s | %s |\n' "$name" "${was:+$was ms}" "$after" "$lim" \
    "$(awk -v a="$after" -v l="$lim" 'BEGIN { printf "%.2f x", a / l }')" "$target"
}
echo
echo "pinwright-cli against pinwright-sim --pace $baud --think $think --restart $restart (pty), median of $runs:"
echo
echo "| Run | Before | After | Limit | After / limit | Goal |"
echo "|---|---:|---:|---:|---:|---|"
row "get" 0 get
row "set --force (written and read back)" 1 set --force auto-cutter=full
# apply alternates between two files so that every run writes.
"$cli" --trace "$work/trace" --baud 115200 -p "$port" apply "$work/b.sts" >/dev/null 2>&1
lim=$(limit "$work/trace")
apply_times=() was_times=()
# applies PROGRAM: the times of `runs` pairs of applies, each of a file the printer does not hold.
applies() {
  for _ in $(seq "$runs"); do
    for f in a b; do
      start=$(date +%s%N)
      "$1" --baud 115200 -p "$port" apply "$work/$f.sts" >/dev/null 2>&1 || { echo "pace_bench: apply failed" >&2; exit 1; }
      echo $(( ($(date +%s%N) - start) / 1000000 ))
    done
  done
}
apply_times=($(applies "$cli"))
[ -n "$before" ] && was_times=($(applies "$before"))
median() { local s=($(printf '%s\n' "$@" | sort -n)); echo "${s[$(( ${#s[@]} / 2 ))]}"; }
after=$(median "${apply_times[@]}")
was=""
[ -n "$before" ] && was="$(median "${was_times[@]}") ms"
printf '| apply (a file that changes it) | %s | %d ms | %d ms | %s | goal <= %d ms (1.25 x limit + 50 ms) |\n' \
  "$was" "$after" "$lim" "$(awk -v a="$after" -v l="$lim" 'BEGIN { printf "%.2f x", a / l }')" "$(( lim * 125 / 100 + 50 ))"
row "status" 0 status
# 256 at once against one: the same limit, since each printer has its own line and pace.
"$cli" --trace "$work/trace" --baud 115200 -p "$port" get >/dev/null 2>&1
lim=$(limit "$work/trace")
many=$(ms "$cli" --baud 115200 "${fleet[@]}" get)
was=""
[ -n "$before" ] && was="$(ms "$before" --baud 115200 "${fleet[@]}" get) ms"
printf '| get, 256 printers at once | %s | %d ms | %d ms | %s | goal <= %d ms (1.25 x limit + 20 ms) |\n' \
  "$was" "$many" "$lim" "$(awk -v a="$many" -v l="$lim" 'BEGIN { printf "%.2f x", a / l }')" "$(( lim * 125 / 100 + 20 ))"
