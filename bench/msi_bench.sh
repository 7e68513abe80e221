#!/bin/sh
# Builds the benchmarks (Release) and runs the MSI access benchmark.
# Usage: bench/msi_bench.sh [build folder]   (default: build/bench)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build/bench"}
generator=
if command -v ninja >/dev/null 2>&1; then
  generator="-G Ninja"
fi
# shellcheck disable=SC2086
cmake -S "$root" -B "$build" $generator -DCMAKE_BUILD_TYPE=Release -DINSTALLER_BENCHMARKS=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target msi_bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bench/msi_bench" "$work"
