#!/usr/bin/env bash
# The package fuzzer's long run (Linux): builds the Linux lane, then runs
# <count> mutations (default 100,000) of the fixed seed through the MSI C API.
# Usage: scripts/fuzz-packages.sh [count] [seed]
# Prints its progress every 10 %, then the counts; the damaged packages of any
# finding are kept, and msi_package_fuzz --one <index> reruns one.
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-100000}
seed=${2:-13}
scripts/build.sh linux
exec build/linux-x64/test/fuzz/packages/msi_package_fuzz --count "$count" --seed "$seed"
