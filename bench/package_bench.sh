#!/bin/sh
# Builds the installer addon and the baseline addon (Release) and reports
# msi_package_info's getProductFeatures and executeQuery against bare baselines
# measured in the same run. The package lies beside a copy of node, where the
# package object looks for it.
# Usage: bench/package_bench.sh [build folder] [rounds]   (default: build/bench, 11)
set -eu
. "$(dirname "$0")/common.sh"
rounds=${2:-11}
build_bench installer_vesk package_bench_addon
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
node "$root/bench/package_bench.js" generate "$work/velkor_installer.msi"
cp "$(command -v node)" "$work/node"
INSTALLER_VESK_HOME=$work/home "$work/node" "$root/bench/package_bench.js" measure \
  "$build/installer_vesk.node" "$build/package_bench_addon.node" "$rounds"
