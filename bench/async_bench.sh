#!/bin/sh
# Builds the benchmark addon (Release) and reports synchronous and asynchronous
# bridge calls and progress delivery against bare Node-API baselines measured in
# the same run, unpinned and then pinned to one core.
# Usage: bench/async_bench.sh [build folder] [rounds]   (default: build/bench, 9)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build/bench"}
rounds=${2:-9}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DINSTALLER_BENCHMARKS=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target async_bench_addon -j2
echo "-- unpinned"
node "$root/bench/async_bench.js" "$build/async_bench_addon.node" "$rounds"
if command -v taskset >/dev/null 2>&1; then
  echo "-- pinned to one core (taskset -c 0)"
  taskset -c 0 node "$root/bench/async_bench.js" "$build/async_bench_addon.node" "$rounds"
fi
