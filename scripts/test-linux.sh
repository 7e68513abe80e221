#!/usr/bin/env bash
# The Linux lane: native tests under CTest, then the script tests with node --test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/build.sh linux
(cd build/linux-x64 && ctest --output-on-failure --timeout 300)
# One test file at a time: several of them use the bootstrapper's named objects.
node --test --test-concurrency=1 test/script/*.test.js
