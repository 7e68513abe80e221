#!/usr/bin/env bash
# The kill test's long run (Linux): builds the Linux lane, then kills an install
# through the engine with SIGKILL at <points> points (default 100) spread over its
# run, checking after each that the product is all there or not there at all.
# Usage: scripts/kill-test.sh [points]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh linux
INSTALLER_VESK_KILL_POINTS=${1:-100} exec build/linux-x64/test/linux_msi/linux_msi_kill_tests \
  --gtest_filter='KillSweep.*'
