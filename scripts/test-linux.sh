#!/usr/bin/env bash
# The Linux lane: native tests under CTest, then the script tests with node --test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/build.sh linux
(cd build/linux-x64 && ctest --output-on-failure --timeout 300)
node --test test/script/*.test.js
