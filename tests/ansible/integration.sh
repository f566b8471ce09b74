#!/usr/bin/env bash
# The collection's integration targets (ansible/tests/integration/targets, in ansible-test's layout) with
# ansible-playbook, offline, on this machine through the local connection: each target as a role (its
# setup_pinwright_sim dependency starts pinwright-sim on a pseudo-terminal), with the collection and
# pinwright-cli found as on a managed host. Every run is bounded; a simulator left by a killed run is stopped.
# Usage: integration.sh BUILD_DIR PINWRIGHT_CLI PINWRIGHT_SIM [TARGET...] (default: every target not hidden)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "$1" && pwd)"
cli="$(realpath "$2")"
sim="$(realpath "$3")"
shift 3
command -v ansible-playbook >/dev/null || { echo "integration: ansible-playbook is missing: run scripts/setup" >&2; exit 1; }
work="$build/ansible-integration"
rm -rf "$work"
mkdir -p "$work/ansible_collections/pinwright" "$work/home" "$work/tmp" "$work/bin"
cp -r "$root/ansible" "$work/ansible_collections/pinwright/escpos"
targets_dir="$work/ansible_collections/pinwright/escpos/tests/integration/targets"
ln -s "$cli" "$work/bin/pinwright-cli"
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for t in "$targets_dir"/*/; do
    t="$(basename "$t")"
    grep -qx hidden "$targets_dir/$t/aliases" 2>/dev/null || targets+=("$t")
  done
fi

# Whatever ends the run: no simulator stays (pid files of setup_pinwright_sim's directories under tmp).
stop_sims() {
  local pidfile pid
  for pidfile in "$work"/tmp/*-pinwright-sim/pid; do
    [ -f "$pidfile" ] || continue
    pid="$(cat "$pidfile")"
    if [ -n "$pid" ] && grep -q "pinwright-sim" "/proc/$pid/cmdline" 2>/dev/null; then
      echo "integration: stopping pinwright-sim $pid left by the run" >&2
      kill "$pid" 2>/dev/null || true
    fi
  done
}
trap stop_sims EXIT

cat >"$work/inventory.ini" <<INVENTORY
testhost ansible_connection=local ansible_python_interpreter=/usr/bin/python3
INVENTORY
export HOME="$work/home" TMPDIR="$work/tmp" ANSIBLE_COLLECTIONS_PATH="$work" ANSIBLE_ROLES_PATH="$targets_dir" \
  ANSIBLE_LOCAL_TEMP="$work/tmp" ANSIBLE_REMOTE_TEMP="$work/tmp" ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 \
  ANSIBLE_LOCALHOST_WARNING=0 ANSIBLE_DEPRECATION_WARNINGS=1 PATH="$work/bin:$PATH"
unset ANSIBLE_CONFIG
passed=0
failed=0
for target in "${targets[@]}"; do
  cat >"$work/$target.yml" <<PLAY
---
- name: Integration target $target
  hosts: testhost
  gather_facts: false
  roles:
    - $target
PLAY
  echo "--- integration target $target"
  status=0
  timeout -k 10 300 ansible-playbook -i "$work/inventory.ini" -e "pinwright_sim=$sim" "$work/$target.yml" || status=$?
  if [ "$status" -eq 0 ]; then
    passed=$((passed + 1))
  else
    [ "$status" -ne 124 ] || echo "integration: $target did not end within 300 s" >&2
    echo "integration: target $target failed (status $status)" >&2
    failed=$((failed + 1))
  fi
done
echo "integration targets: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
