#!/usr/bin/env bash
# The sanitizer lanes (Linux), each a build of its own at -O1 (scripts/sanitizer-env.sh):
#   asan  ASan+UBSan: the native tests, the script tests with the ASan addons, and
#         the bridge fuzzer's CI share (20,000 calls);
#   tsan  TSan: the native tests, and concurrent asynchronous calls on every
#         class of both addons (test/sanitizers/async_stress.js);
#   fuzz  the libFuzzer targets' CI share (scripts/fuzz.sh --text).
# Any finding fails the lane.
#
#   scripts/test-sanitizers.sh [asan|tsan|fuzz]...   (all three by default)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
. scripts/sanitizer-env.sh

# The dependency-list tests fail by design here: the sanitizer runtime is one
# more shared library of every module.
no_dependency_lists=(-E '_dependencies$')

asan_lane() {
  build_asan
  (cd "$asan_dir" && ctest --output-on-failure --timeout 600 "${no_dependency_lists[@]}")
  # One test file at a time: several of them use the bootstrapper's named objects.
  "${asan_node[@]}" node --test --test-concurrency=1 test/script/*.test.js
  scripts/fuzz.sh --bridge
}

tsan_lane() {
  build_tsan
  (cd "$tsan_dir" && ctest --output-on-failure --timeout 600 "${no_dependency_lists[@]}")
  "${tsan_node[@]}" node test/sanitizers/async_stress.js 5
}

fuzz_lane() {
  scripts/fuzz.sh --text
}

lanes=("$@")
((${#lanes[@]})) || lanes=(asan tsan fuzz)
for lane in "${lanes[@]}"; do
  case "$lane" in
    asan | tsan | fuzz) ;;
    *) echo "usage: test-sanitizers.sh [asan|tsan|fuzz]..." >&2; exit 2 ;;
  esac
  start=$SECONDS
  "${lane}_lane"
  echo "== sanitizer lane $lane: $((SECONDS - start)) s"
done
