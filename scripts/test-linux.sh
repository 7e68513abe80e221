#!/usr/bin/env bash
# The Linux lane: native tests under CTest, the type check of the declarations
# (index.d.ts) against an example that calls every method, then the script tests
# and the reference installer page's browser test with node --test, and the
# script-level package fuzzer's short run.
#
#   scripts/test-linux.sh [build|run]   (both by default; run expects build's output)
set -euo pipefail
cd "$(dirname "$0")/.."
phase=${1:-all}
case "$phase" in
  build | run | all) ;;
  *) echo "usage: test-linux.sh [build|run]" >&2; exit 2 ;;
esac

[ "$phase" = run ] || scripts/build.sh linux
[ "$phase" = build ] && exit 0
(cd build/linux-x64 && ctest --output-on-failure --timeout 300 -j2)
echo "== type check: tsc -p examples/typescript"
node_modules/.bin/tsc -p examples/typescript
# One test file at a time: several of them use the bootstrapper's named objects.
node --test --test-concurrency=1 test/script/*.test.js test/browser/*.test.js
scripts/fuzz.sh --packages
