# The virtual printer for the wine end-to-end scripts, one process at a time: started with its link, trace,
# state and control file in a folder, stopped within a bound. Source it after scripts/lib/wait.sh; set $sim to
# the Linux pinwright-sim.

sim_pid=""

# sim_start DIR [ARGS...]: the simulator with DIR/printer (its link; $SIM_LINK instead when set), DIR/trace,
# DIR/state and DIR/control (see sim_control); waits for its "pty:" line.
sim_start() {
  local dir="$1"
  shift
  "$sim" --link "${SIM_LINK:-$dir/printer}" --trace --state "$dir/state" --control "$dir/control" "$@" \
    >"$dir/sim.out" 2>"$dir/trace" &
  sim_pid=$!
  watch "$sim_pid" pinwright-sim "$dir/trace"
  wait_for "pinwright-sim's 'pty:' line" 10 grep -q '^pty: ' "$dir/sim.out"
}

# sim_listen DIR [ARGS...]: the simulator as a network printer on a free loopback port, with DIR/trace and
# DIR/state; waits for its "tcp:" line and sets $sim_address to its name, "tcp://127.0.0.1:PORT".
sim_listen() {
  local dir="$1"
  shift
  "$sim" --listen 127.0.0.1:0 --trace --state "$dir/state" --control "$dir/control" "$@" \
    >"$dir/sim.out" 2>"$dir/trace" &
  sim_pid=$!
  watch "$sim_pid" pinwright-sim "$dir/trace"
  wait_for "pinwright-sim's 'tcp:' line" 10 grep -q '^tcp: ' "$dir/sim.out"
  sim_address="tcp://$(sed -n 's/^tcp: //p' "$dir/sim.out")"
}

# sim_fleet DIR N [ARGS...]: N printers in one simulator, on pseudo-terminals linked as DIR/printer.1 to
# DIR/printer.N, with DIR/trace (each line "#K" for printer K), DIR/state.1 to DIR/state.N and DIR/control;
# waits for all N "pty:" lines.
sim_fleet() {
  local dir="$1" n="$2"
  shift 2
  "$sim" --count "$n" --link "$dir/printer" --trace --state "$dir/state" --control "$dir/control" "$@" \
    >"$dir/sim.out" 2>"$dir/trace" &
  sim_pid=$!
  watch "$sim_pid" pinwright-sim "$dir/trace"
  wait_for "pinwright-sim's $n 'pty:' lines" 10 test "$(grep -c '^pty: ' "$dir/sim.out")" -ge "$n"
}

# sim_control DIR LINE...: gives the running simulator's printers the status faults of the LINEs ("N:" before
# a line for printer N alone; none to clear them) and waits for it to have taken them. Fails when it refused.
sim_control() {
  local dir="$1" n
  shift
  printf '%s\n' "$@" >"$dir/control.new"
  mv "$dir/control.new" "$dir/control"
  n=$(($(grep -c '^control: ' "$dir/sim.out") + 1))
  kill -USR1 "$sim_pid"
  wait_for "pinwright-sim's answer to control read $n" 10 grep -q "^control: $n " "$dir/sim.out"
  grep -q "^control: $n ok" "$dir/sim.out" || { grep "^control: $n " "$dir/sim.out" >&2; return 1; }
}

# sim_stop: ends the simulator (TERM, then KILL after 5 s).
sim_stop() {
  [ -n "$sim_pid" ] || return 0
  unwatch "$sim_pid"
  kill "$sim_pid" 2>/dev/null || true
  for _ in $(seq 50); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.1; done
  kill -9 "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
}

# sim_bytes DIR ARROW: every byte the simulator received (<-) or sent (->), one a line, in order.
sim_bytes() {
  grep -o -e "$2 .*" "$1/trace" | cut -c4- | tr ' ' '\n' | grep -v '^$' || true
}

# sim_polls_once: a run of DLE EOT 1 queries (10 04 01 10 04 01 ...) as one, and a run of replies 12 (the
# printer online) as one. After user setting mode the CLI asks until the printer is back: how often depends on
# how fast each side's machine and the printer turn around, not on what the program sends.
sim_polls_once() {
  awk '{ b[NR] = $0 } END {
    n = 0
    for (i = 1; i <= NR; i++) {
      poll = b[i] == "10" && b[i+1] == "04" && b[i+2] == "01"
      if (poll && n >= 3 && o[n-2] == "10" && o[n-1] == "04" && o[n] == "01") { i += 2; continue }
      if (b[i] == "12" && n >= 1 && o[n] == "12") continue
      o[++n] = b[i]
    }
    for (i = 1; i <= n; i++) print o[i]
  }'
}

# sim_compare LINUX_DIR WINDOWS_DIR: the bytes both ways, and the switches at the end, are the same (runs of
# DLE EOT 1 and of its reply 12 counted once); says what differs. Fails when they differ or when the printer
# got nothing.
sim_compare() {
  local fail=0 arrow
  for arrow in '<-' '->'; do
    sim_bytes "$1" "$arrow" | sim_polls_once >"$1/bytes$arrow"
    sim_bytes "$2" "$arrow" | sim_polls_once >"$2/bytes$arrow"
    if [ ! -s "$1/bytes$arrow" ]; then
      echo "${0##*/}: the printer's trace shows no bytes $arrow" >&2
      fail=1
    elif ! diff -u "$1/bytes$arrow" "$2/bytes$arrow" >"$2/diff$arrow"; then
      echo "${0##*/}: the bytes $arrow differ between Linux and Windows:" >&2
      head -40 "$2/diff$arrow" >&2
      fail=1
    fi
  done
  if ! diff -u "$1/state" "$2/state" >&2; then
    echo "${0##*/}: the printer's switches differ after the runs" >&2
    fail=1
  fi
  return "$fail"
}
