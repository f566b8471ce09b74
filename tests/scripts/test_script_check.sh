#!/usr/bin/env bash
# scripts/test's own bookkeeping, with stand-ins for its heavy phases: the closing tally of a run as root
# and of a run as an ordinary user (which has no unprivileged run of its own); a fuzz phase that fails
# ends the soak running beside it, still shows each phase's time and gives no closing tally; a run that
# passes ends with the tally line; a background build that fails ends the run with its output, and a run that
# ends takes its background builds with it. Usage: test_script_check.sh SOURCE_DIR
set -euo pipefail
root="$1"
source "$root/scripts/lib/tally.sh"
source "$root/scripts/lib/wait.sh"
work="$(mktemp -d)"
soak_pid=""
trap '[ -z "$soak_pid" ] || kill "$soak_pid" 2>/dev/null || true; rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

ctest_lines='100% tests passed, 0 tests failed out of 250
Total Test time (real) = 100.00 sec
100% tests passed, 0 tests failed out of 120'
printf '%s\nAs pinwright-test: 90 passed, 0 failed\n' "$ctest_lines" >"$work/root.log"
printf '%s\nAlready an unprivileged user (alice): the end-to-end tests above ran as one.\n' "$ctest_lines" \
  >"$work/user.log"
# As scripts/test runs it: under set -euo pipefail.
[ "$(set -euo pipefail; tally "$work/root.log")" = 460 ] || fail "tally of a root run: $(tally "$work/root.log")"
[ "$(set -euo pipefail; tally "$work/user.log")" = 370 ] || fail "tally of a user's run: $(tally "$work/user.log")"

# The fuzzers fail while the soak runs: the soak is ended with the run.
status=0
PINWRIGHT_PHASES=fuzz \
  PINWRIGHT_SOAK_COMMAND="echo \$\$ >'$work/soak.pid'; exec sleep 300" \
  PINWRIGHT_FUZZ_COMMAND="for i in \$(seq 200); do [ -s '$work/soak.pid' ] && break; sleep 0.05; done; exit 3" \
  timeout -k 5 120 "$root/scripts/test" >"$work/failing.out" 2>&1 || status=$?
soak_pid="$(cat "$work/soak.pid" 2>/dev/null || true)"
[ -n "$soak_pid" ] || fail "the soak's stand-in never started"
[ "$status" = 3 ] || fail "a failed fuzz phase ended scripts/test with status $status, not the fuzzers' 3"
if [ -n "$soak_pid" ] && ! wait_for "the soak beside the failed fuzzers to end" 10 bash -c "! kill -0 $soak_pid"; then
  fail "the soak (pid $soak_pid) outlived the failed run"
fi
grep -q '^Time of each phase:' "$work/failing.out" || fail "a failed run shows no phase times"
grep -qE '^  fuzzing, and a one-minute soak beside it +[0-9]+ s$' "$work/failing.out" ||
  fail "the fuzz phase's time is missing"
! grep -q 'passed, 0 failed' "$work/failing.out" || fail "a failed run closes with a tally"

# A background build that fails ends the run at the phase that needs it, with the build's output.
status=0
PINWRIGHT_PHASES=tsan PINWRIGHT_LATER_BUILD_COMMAND='echo "compiling $1"; exit 5' \
  timeout -k 5 120 "$root/scripts/test" >"$work/build-failed.out" 2>&1 || status=$?
[ "$status" = 5 ] || fail "a failed background build ended scripts/test with status $status, not the build's 5"
grep -q '^compiling tsan$' "$work/build-failed.out" || fail "the failed build's output is not shown"
grep -q '^the tsan build failed (status 5)$' "$work/build-failed.out" || fail "the failed build is not named"
grep -qE '^  ThreadSanitizer \(the tests that start threads\) +[0-9]+ s$' "$work/build-failed.out" ||
  fail "the phase that waited for the failed build shows no time"

# A run that ends while a background build compiles (a signal here) ends that build too.
PINWRIGHT_PHASES=tsan PINWRIGHT_LATER_BUILD_COMMAND="echo \$\$ >'$work/build.pid'; exec sleep 300" \
  "$root/scripts/test" >"$work/ended.out" 2>&1 &
run_pid=$!
if wait_for "the background build's stand-in to start" 30 test -s "$work/build.pid"; then
  build_pid="$(cat "$work/build.pid")"
  kill -TERM "$run_pid"
  wait_for "scripts/test to end on SIGTERM" 20 bash -c "! kill -0 $run_pid" || fail "scripts/test outlived SIGTERM"
  wait_for "the background build to end with the run" 10 bash -c "! kill -0 $build_pid" ||
    { fail "the background build (pid $build_pid) outlived the run"; kill "$build_pid" 2>/dev/null || true; }
else
  fail "the background build's stand-in never started"
fi
wait "$run_pid" 2>/dev/null || true

# Both pass: the tally closes the output.
status=0
PINWRIGHT_PHASES=fuzz PINWRIGHT_SOAK_COMMAND="echo soaked" PINWRIGHT_FUZZ_COMMAND="echo fuzzed" \
  timeout -k 5 120 "$root/scripts/test" >"$work/passing.out" 2>&1 || status=$?
[ "$status" = 0 ] || fail "a passing run ended with status $status"
[ "$(tail -n1 "$work/passing.out")" = "0 passed, 0 failed" ] || fail "last line: '$(tail -n1 "$work/passing.out")'"
grep -q '^soaked$' "$work/passing.out" || fail "the soak's output is not shown"

if [ "$failed" -ne 0 ]; then
  echo "--- the failing run:"; cat "$work/failing.out"
  echo "--- the passing run:"; cat "$work/passing.out"
  echo "--- the run whose background build failed:"; cat "$work/build-failed.out"
fi
[ "$failed" -eq 0 ] && echo "tally, phase times and the end of a failed run as they should be"
exit "$failed"
