#!/usr/bin/env bash
# The collection pinwright.escpos on a fleet: its example playbook over an inventory of 16 hosts (local
# connection, each with a pinwright-sim of its own, 8 on pseudo-terminals and 8 on the network), forks 16.
# Baseline: the same inventory running `pinwright-cli get` through ansible.builtin.command; the baseline less
# one `get` is Ansible's own overhead. Reported: the run that writes against one printer's `apply` plus that
# overhead (goal at most 1.25), the run with nothing to write against the baseline (goal at most 1.25), and
# the overhead per host. One printer's get and apply are those of a printer on a pseudo-terminal (the slower
# kind), outside the inventory.
# Usage: ansible_bench.sh BUILD_DIR [--quick]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "$1" && pwd)"
quick="${2:-}"
runs=${PINWRIGHT_BENCH_RUNS:-3}
[ "$quick" = "--quick" ] && runs=1
hosts=16
[ "$quick" = "--quick" ] && hosts=4 # enough to prove it runs
command -v ansible-playbook >/dev/null || { echo "ansible_bench: ansible-playbook is missing: run scripts/setup"; exit 1; }
source "$root/scripts/lib/wait.sh"
work="$(mktemp -d)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/collections/ansible_collections/pinwright" "$work/bin" "$work/home" "$work/tmp"
ln -s "$root/ansible" "$work/collections/ansible_collections/pinwright/escpos"
ln -s "$build/pinwright-cli" "$work/bin/pinwright-cli"
export PATH="$work/bin:$PATH" HOME="$work/home" ANSIBLE_COLLECTIONS_PATH="$work/collections" \
  ANSIBLE_LOCAL_TEMP="$work/tmp" ANSIBLE_REMOTE_TEMP="$work/tmp" ANSIBLE_PYTHON_INTERPRETER=/usr/bin/python3 \
  ANSIBLE_FORKS="$hosts" ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_LOCALHOST_WARNING=0

# The printers: the first half on pseudo-terminals, the second as network printers on loopback.
inventory="$work/inventory.yml"
echo "tills:" >"$inventory"
echo "  hosts:" >>"$inventory"
for i in $(seq -w 1 "$hosts"); do
  if [ "$((10#$i))" -le $((hosts / 2)) ]; then
    "$build/pinwright-sim" --state "$work/s$i" >"$work/p$i.out" 2>/dev/null &
  else
    "$build/pinwright-sim" --listen 127.0.0.1:0 --state "$work/s$i" >"$work/p$i.out" 2>/dev/null &
  fi
  pids+=($!)
done
for i in $(seq -w 1 "$hosts"); do
  wait_for "pinwright-sim $i to say where it is" 10 grep -q '^\(pty\|tcp\): ' "$work/p$i.out"
  line="$(head -n1 "$work/p$i.out")"
  case "$line" in
    pty:*) port="${line#pty: }" ;;
    tcp:*) port="tcp://${line#tcp: }" ;;
  esac
  printf '    till%s:\n      ansible_connection: local\n      printer_port: "%s"\n' "$i" "$port" >>"$inventory"
done
# One more printer on a pseudo-terminal, outside the inventory, for one printer's get and apply.
"$build/pinwright-sim" --state "$work/solo.state" >"$work/solo.out" 2>/dev/null &
pids+=($!)
wait_for "the single pinwright-sim to say where it is" 10 grep -q '^pty: ' "$work/solo.out"
serial="$(sed -n 's/^pty: //p' "$work/solo.out")"

cat >"$work/baseline.yml" <<'EOF'
- name: Read every till's printer through the command module
  hosts: tills
  gather_facts: false
  tasks:
    - name: Get
      ansible.builtin.command:
        argv: [pinwright-cli, -p, "{{ printer_port }}", get]
      changed_when: false
EOF
# Two sets of settings that differ from each other (and from the printers' own): each writing run takes
# the other one, so that it has something to write; the run after it, the same one.
settings_a='{"receipt_printer": {"code_page": "PC858", "auto_cutter": "partial"}}'
settings_b='{"receipt_printer": {"code_page": "PC437", "auto_cutter": "full"}}'

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
median() { printf '%s\n' "$@" | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
# play NAME EXPECTED_CHANGED ARGS...: one ansible-playbook run, every host with changed=EXPECTED_CHANGED;
# its wall time in ms in $last.
play() {
  local name="$1" changed="$2" start end
  shift 2
  start=$(now_ms)
  timeout -k 5 300 ansible-playbook -i "$inventory" "$@" >"$work/$name.log" 2>&1 ||
    { echo "ansible_bench: $name failed:" >&2; tail -40 "$work/$name.log" >&2; exit 1; }
  end=$(now_ms)
  local n
  n="$(grep -c "changed=$changed " "$work/$name.log" || true)"
  [ "$n" -eq "$hosts" ] ||
    { echo "ansible_bench: $name: $n of $hosts hosts with changed=$changed" >&2; tail -20 "$work/$name.log" >&2; exit 1; }
  last=$((end - start))
}
cli_ms() {
  local start end
  start=$(now_ms)
  timeout -k 5 120 "$build/pinwright-cli" "$@" >/dev/null 2>"$work/cli.err" ||
    { echo "ansible_bench: pinwright-cli $* failed:" >&2; cat "$work/cli.err" >&2; exit 1; }
  end=$(now_ms)
  last=$((end - start))
}
# CPU time in ms of this script's waited-for children (ansible-playbook, its workers, the modules, the CLI).
children_cpu_ms() { awk -v hz="$(getconf CLK_TCK)" '{ printf "%d", ($16 + $17) * 1000 / hz }' /proc/$$/stat; }

baseline=() gets=() applies=() firsts=() seconds=() cpu=()
load="$(cut -d' ' -f1-3 /proc/loadavg)"
play warm-up 1 "$root/ansible/examples/printers.yml" -e "$settings_b"
"$build/pinwright-cli" -p "$serial" get -o "$work/held.sts" >/dev/null
for run in $(seq "$runs"); do
  play baseline 0 "$work/baseline.yml"
  baseline+=("$last")
  cli_ms -p "$serial" get
  gets+=("$last")
  # One printer's apply that writes: --force on the file it holds is the same sequence as a change.
  cli_ms -p "$serial" apply --force "$work/held.sts"
  applies+=("$last")
  if [ $((run % 2)) -eq 1 ]; then settings="$settings_a"; else settings="$settings_b"; fi
  cpu_before=$(children_cpu_ms)
  play first 1 "$root/ansible/examples/printers.yml" -e "$settings"
  firsts+=("$last")
  cpu+=($(($(children_cpu_ms) - cpu_before)))
  # The simulators save their switches each time user setting mode ends: none may do so in the second run.
  touch "$work/before-second"
  play second 0 "$root/ansible/examples/printers.yml" -e "$settings"
  seconds+=("$last")
  written="$(find "$work" -maxdepth 1 -name 's[0-9]*' -newer "$work/before-second")"
  [ -z "$written" ] || { echo "ansible_bench: the second run wrote to $written" >&2; exit 1; }
done

b=$(median "${baseline[@]}") g=$(median "${gets[@]}") a=$(median "${applies[@]}")
f=$(median "${firsts[@]}") s=$(median "${seconds[@]}") c=$(median "${cpu[@]}")
overhead=$((b - g))
echo
echo "Load average before: $load"
echo "Ansible collection on $hosts hosts (local connection, forks $hosts, 8 pty + 8 loopback TCP printers),"
echo "median of $runs (wall ms); one printer's get and apply on a pseudo-terminal:"
echo
echo "| Run | Median wall | Against |"
echo "|---|---:|---|"
echo "| baseline: pinwright-cli get through ansible.builtin.command | $b ms | runs: ${baseline[*]} |"
echo "| pinwright-cli get, 1 printer | $g ms | Ansible's overhead: $overhead ms; runs: ${gets[*]} |"
echo "| pinwright-cli apply (writing), 1 printer | $a ms | runs: ${applies[*]} |"
echo "| memory_switches, first run (writes) | $f ms | $(awk -v f="$f" -v a="$a" -v o="$overhead" 'BEGIN { printf "%.3f x apply + overhead (%d ms; goal <= 1.25)", f / (a + o), a + o }'); runs: ${firsts[*]} |"
echo "| memory_switches, second run (nothing to write) | $s ms | $(awk -v s="$s" -v b="$b" 'BEGIN { printf "%.3f x the baseline (goal <= 1.25)", s / b }'); runs: ${seconds[*]} |"
echo
echo "Ansible's overhead: $overhead ms of wall time for the fleet, $(awk -v o="$overhead" -v h="$hosts" 'BEGIN { printf "%.0f", o / h }') ms a host;"
echo "CPU of the writing run (ansible-playbook, its workers and the modules): $c ms, $(awk -v c="$c" -v h="$hosts" 'BEGIN { printf "%.0f", c / h }') ms a host."
