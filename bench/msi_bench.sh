#!/bin/sh
# Builds the benchmarks (Release) and runs the MSI access benchmark.
# Usage: bench/msi_bench.sh [build folder]   (default: build/bench)
set -eu
. "$(dirname "$0")/common.sh"
build_bench msi_bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bench/msi_bench" "$work"
