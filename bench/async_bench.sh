#!/bin/sh
# Builds the benchmark addon (Release) and reports asynchronous calls and progress
# delivery against bare Node-API baselines measured in the same run.
# Usage: bench/async_bench.sh [build folder]   (default: build/bench)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build/bench"}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DINSTALLER_BENCHMARKS=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target async_bench_addon
node "$root/bench/async_bench.js" "$build/async_bench_addon.node"
