#!/usr/bin/env bash
# Runs every benchmark of bench/, each against its own baseline measured in the
# same run. Builds in build/bench (Release).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
for bench in bench/*_bench.sh; do
  echo "== $bench"
  "$bench"
done
