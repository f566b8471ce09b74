#!/usr/bin/env bash
# Runs the end-to-end and real-window tests as an ordinary user, as users run the program: root opens any
# device whatever its permissions or exclusive flags, so faults of that kind only show this way.
# Run by root (scripts/test); the tests and programs are copied to a folder of the user's own, so the
# checkout need not be readable by them. Usage: tests/as_user.sh BUILD_DIR [USER]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$1"
user="${2:-pinwright-test}"
if [ "$(id -u)" -ne 0 ]; then
  echo "Already an unprivileged user ($(id -un)): the end-to-end tests above ran as one."
  exit 0
fi
if ! id "$user" >/dev/null 2>&1; then
  useradd --system --user-group --home-dir /nonexistent --no-create-home --shell /usr/sbin/nologin "$user"
fi

work="$(mktemp -d /tmp/pinwright-as-user.XXXXXX)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/tests/e2e" "$work/tests/ansible" "$work/tests/exporter" "$work/data" "$work/scripts/lib" "$work/home" "$work/run"
cp "$build"/{pinwright,pinwright-sim,pinwright-cli,pinwright_exporter} "$work/bin/"
cp "$root"/tests/exporter/{exporter_e2e_test.py,rules_test.yml} "$work/tests/exporter/"
cp "$root"/data/pinwright-exporter-rules.yml "$root"/README.md "$work/data/"
cp "$build"/tests/{e2e_tests,link_tests,cli_e2e_tests,cli_idempotence_e2e_tests,pinwright-layout,pinwright-wm-ping} "$work/bin/"
cp "$root"/tests/e2e/{real_window.sh,responsive_window.sh,responsive_lib.sh,startup_cancel.sh,x11_lib.sh} "$work/tests/e2e/"
cp "$root"/scripts/lib/wait.sh "$work/scripts/lib/"
cp -r "$root"/tests/ansible/{playbook_e2e_test.py,callback_plugins} "$work/tests/ansible/"
cp -r "$root/ansible" "$work/ansible"
cp "$root"/docs/pinwright-cli.schema.json "$root"/tests/support/validate_cli_json.py "$root"/tests/cli/read_metrics.py \
  "$work/tests/"
chown -R "$user:" "$work"
chmod 700 "$work/run"
# A device file as distributions make serial ports, which the user, in none of its groups, may not open.
mkdir -m 755 "$work/dev"
install -m 0660 -o root -g dialout /dev/null "$work/dev/ttyS-dialout"

as_user() {
  runuser -u "$user" -- env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME="$work/home" XDG_RUNTIME_DIR="$work/run" \
    QT_QPA_PLATFORM=offscreen PINWRIGHT_SIM="$work/bin/pinwright-sim" PINWRIGHT_CLI="$work/bin/pinwright-cli" \
    PINWRIGHT_CLI_SCHEMA="$work/tests/pinwright-cli.schema.json" \
    PINWRIGHT_CLI_JSON_VALIDATOR="$work/tests/validate_cli_json.py" PINWRIGHT_READ_METRICS="$work/tests/read_metrics.py" \
    PINWRIGHT_TEST_DIALOUT_DEVICE="$work/dev/ttyS-dialout" TMPDIR="$work/home" "$@"
}

# Every program and script runs at once, since they mostly wait on printers and windows; each job leaves
# "STATUS PASSED" in $work/NAME.result and its output in $work/NAME.*.log, read once all have ended.
jobs_started=()
# One gtest program, in four shards at once; each shard bounded.
shards=4
gtest() {
  local name="$1" filter="$2"
  jobs_started+=("$name")
  (
    pids=() status=0 count=0
    for ((i = 0; i < shards; i++)); do
      as_user env GTEST_TOTAL_SHARDS=$shards GTEST_SHARD_INDEX="$i" timeout -k 5 400 "$work/bin/$name" \
        --gtest_filter="$filter" --gtest_brief=1 >"$work/$name.$i.log" 2>&1 &
      pids+=($!)
    done
    for ((i = 0; i < shards; i++)); do
      if wait "${pids[$i]}"; then :; else status=1; fi
      n=$(grep -Eo '^\[  PASSED  \] [0-9]+' "$work/$name.$i.log" | grep -Eo '[0-9]+$' || echo 0)
      count=$((count + n))
    done
    echo "$status $count" >"$work/$name.result"
  ) &
}
script() {
  local name="$1"
  shift
  jobs_started+=("$name")
  (
    if as_user timeout -k 5 120 "$@" >"$work/$name.0.log" 2>&1; then
      echo "0 1" >"$work/$name.result"
    else
      echo "1 0" >"$work/$name.result"
    fi
  ) &
}

gtest e2e_tests '*'
gtest link_tests 'PosixBackend.*'
gtest cli_e2e_tests '*'
gtest cli_idempotence_e2e_tests '*'
script RealWindow env -u QT_QPA_PLATFORM "$work/tests/e2e/real_window.sh" "$work/bin/pinwright" \
  "$work/bin/pinwright-sim" "$work/bin/pinwright-layout" "$work/home/real-window"
script ResponsiveWindow env -u QT_QPA_PLATFORM "$work/tests/e2e/responsive_window.sh" "$work/bin/pinwright" \
  "$work/bin/pinwright-sim" "$work/bin/pinwright-layout" "$work/bin/pinwright-wm-ping" "$work/home/responsive-window"
script Startup env -u QT_QPA_PLATFORM "$work/tests/e2e/startup_cancel.sh" "$work/bin/pinwright"
script AnsiblePlaybook /usr/bin/python3 "$work/tests/ansible/playbook_e2e_test.py" --cli "$work/bin/pinwright-cli" \
  --sim "$work/bin/pinwright-sim" --collection "$work/ansible"
script Exporter /usr/bin/python3 "$work/tests/exporter/exporter_e2e_test.py" --exporter "$work/bin/pinwright_exporter" \
  --sim "$work/bin/pinwright-sim" --readme "$work/data/README.md" --rules "$work/data/pinwright-exporter-rules.yml" \
  --rules-test "$work/tests/exporter/rules_test.yml"
wait

passed=0 failed=0
for name in "${jobs_started[@]}"; do
  read -r status count <"$work/$name.result" 2>/dev/null || { status=1 count=0; }
  passed=$((passed + count))
  if [ "$status" -ne 0 ]; then
    failed=$((failed + 1))
    echo "FAILED as $user: $name"
    cat "$work/$name".*.log
  else
    echo "passed as $user: $name"
  fi
done
echo "As $user: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
