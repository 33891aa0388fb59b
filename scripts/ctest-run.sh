#!/usr/bin/env bash
# Runs CTest on a build tree: scripts/ctest-run.sh NAME BUILD_DIR [ctest arguments...]
#
# The tests that fail are run once more, one at a time, and when PDI_RERUN_AFTER_PID names a
# process (scripts/test.sh gives its build in the background) only once it has ended, so with
# nothing else running: a test that timed a server on a machine busy with a build beside it can
# miss its mark. One that passes the second time is not counted as a failure, but it is named:
# printed here and, when PDI_TEST_SUMMARY names a file, written there with every test that failed
# twice, so that the run can end by listing them (scripts/test.sh does) instead of leaving them
# far up in its output. Exits as CTest did on the second run (or the first, when nothing failed).
set -uo pipefail
name=$1
dir=$2
shift 2

note() {
  echo "$name: $*"
  [ -z "${PDI_TEST_SUMMARY:-}" ] || echo "$name: $*" >>"$PDI_TEST_SUMMARY"
}

ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" "$@"
status=$?
((status != 0)) || exit 0

failed_log="$dir/Testing/Temporary/LastTestsFailed.log"
if [ ! -s "$failed_log" ]; then
  note "ctest failed (exit $status) before any test failed"
  exit "$status"
fi
first=$(cut -d: -f2- "$failed_log" | sort)
echo "$name: $(wc -l <<<"$first") test(s) failed; running them again alone"
# Running: present and not a zombie (which it stays until its parent, waiting for this script,
# collects it).
running() { [ -n "$1" ] && [ -r "/proc/$1/stat" ] && [ "$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null)" != Z ]; }
if running "${PDI_RERUN_AFTER_PID:-}"; then
  echo "$name: waiting for process $PDI_RERUN_AFTER_PID (the build beside the tests) to end first"
  while running "$PDI_RERUN_AFTER_PID"; do sleep 2; done
fi
ctest --test-dir "$dir" --output-on-failure -j1 --rerun-failed "$@"
status=$?
second=""
((status == 0)) || second=$(cut -d: -f2- "$failed_log" | sort)

while IFS= read -r test; do
  [ -n "$test" ] || continue
  if grep -qxF -- "$test" <<<"$second"; then
    note "FAILED: $test"
  else
    note "failed, then passed alone (timing under load?): $test"
  fi
done <<<"$first"
exit "$status"
