#!/usr/bin/env bash
# The main job for now: set up, build the Linux addon and run the tracing demo.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh linux
node examples/trace_demo.js
