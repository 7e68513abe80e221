#!/usr/bin/env bash
# Every test of both lanes, from a fresh machine: installs what is missing,
# builds, and runs the Linux lane, then the Windows lane under Wine, then the
# sanitizer lanes (Linux) with the fuzzers' short runs.
#
# The tests of a lane mostly wait (on child processes, Wine, timers), so the next
# lanes' builds run meanwhile, one after another in the background at the lowest
# priority; a lane's tests start once its build is done. The builds' output goes
# to build/background-builds.log, printed when one fails.
set -euo pipefail
cd "$(dirname "$0")/.."

start=$SECONDS
scripts/setup.sh
echo "== setup: $((SECONDS - start)) s"

step_start=$SECONDS
scripts/test-linux.sh build
echo "== Linux build: $((SECONDS - step_start)) s"

stamps=build/background-builds
builds_log=build/background-builds.log
rm -rf "$stamps"
mkdir -p "$stamps"
# Each build leaves <name>.done or <name>.failed in $stamps.
(
  for build in windows asan tsan fuzz; do
    step_start=$SECONDS
    if [ $build = windows ]; then
      command=(scripts/test-windows.sh build)
    else
      command=(scripts/test-sanitizers.sh build $build)
    fi
    if nice -n 19 "${command[@]}"; then
      echo "$((SECONDS - step_start))" >"$stamps/$build.done"
    else
      touch "$stamps/$build.failed"
      exit 1
    fi
  done
) >"$builds_log" 2>&1 &
builds=$!
trap 'kill $builds 2>/dev/null || true' EXIT

# await_build <name>: waits until the background build <name> is done; a failed
# one ends the run with the end of its log.
await_build() {
  while [ ! -f "$stamps/$1.done" ]; do
    if [ -f "$stamps/$1.failed" ] || ! kill -0 $builds 2>/dev/null; then
      [ -f "$stamps/$1.done" ] && break  # it ended between the two looks
      tail -n 60 "$builds_log" >&2
      echo "FAIL: the $1 build failed (whole output: $builds_log)" >&2
      exit 1
    fi
    sleep 2
  done
  echo "== $1 build: $(cat "$stamps/$1.done") s, in the background"
}

lane_start=$SECONDS
scripts/test-linux.sh run
echo "== Linux lane: $((SECONDS - lane_start)) s"

await_build windows
lane_start=$SECONDS
scripts/test-windows.sh run
echo "== Windows lane: $((SECONDS - lane_start)) s"

for lane in asan tsan fuzz; do
  await_build $lane
  scripts/test-sanitizers.sh run $lane
done
echo "== all tests passed in $((SECONDS - start)) s"
