#!/usr/bin/env bash
# Every test of both lanes, from a fresh machine: installs what is missing,
# builds, and runs the Linux lane, then the Windows lane under Wine, then the
# sanitizer lanes (Linux) with the fuzzers' short runs.
set -euo pipefail
cd "$(dirname "$0")/.."

start=$SECONDS
scripts/setup.sh
echo "== setup: $((SECONDS - start)) s"

lane_start=$SECONDS
scripts/test-linux.sh
echo "== Linux lane: $((SECONDS - lane_start)) s"

lane_start=$SECONDS
scripts/test-windows.sh
echo "== Windows lane: $((SECONDS - lane_start)) s"

lane_start=$SECONDS
scripts/test-sanitizers.sh
echo "== sanitizer lanes: $((SECONDS - lane_start)) s"
echo "== all tests passed in $((SECONDS - start)) s"
