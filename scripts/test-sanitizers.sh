#!/usr/bin/env bash
# The sanitizer lanes (Linux), each a build of its own at -O1 (scripts/sanitizer-env.sh):
#   asan  ASan+UBSan: the native tests, the script tests with the ASan addons, and
#         the bridge fuzzer's CI share (20,000 calls);
#   tsan  TSan: the native tests, and concurrent asynchronous calls on every
#         class of both addons (test/sanitizers/async_stress.js);
#   fuzz  the libFuzzer targets' CI share (scripts/fuzz.sh --text).
# Any finding fails the lane.
#
#   scripts/test-sanitizers.sh [build|run] [asan|tsan|fuzz]...
# (all three lanes by default, each built then run; run expects build's output)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
. scripts/sanitizer-env.sh

# The dependency-list tests fail by design here: the sanitizer runtime is one
# more shared library of every module.
no_dependency_lists=(-E '_dependencies$')

build_lane() {
  case "$1" in
    asan) build_asan ;;
    tsan) build_tsan ;;
    fuzz) build_fuzz ;;
  esac
}

run_asan() {
  (cd "$asan_dir" && ctest --output-on-failure --timeout 600 -j2 "${no_dependency_lists[@]}")
  # One test file at a time: several of them use the bootstrapper's named objects.
  "${asan_node[@]}" node --test --test-concurrency=1 test/script/*.test.js
  scripts/fuzz.sh --bridge
}

run_tsan() {
  (cd "$tsan_dir" && ctest --output-on-failure --timeout 600 -j2 "${no_dependency_lists[@]}")
  "${tsan_node[@]}" node test/sanitizers/async_stress.js 5
}

run_fuzz() {
  scripts/fuzz.sh --text
}

phase=all
case "${1:-}" in
  build | run) phase=$1; shift ;;
esac
lanes=("$@")
((${#lanes[@]})) || lanes=(asan tsan fuzz)
for lane in "${lanes[@]}"; do
  case "$lane" in
    asan | tsan | fuzz) ;;
    *) echo "usage: test-sanitizers.sh [build|run] [asan|tsan|fuzz]..." >&2; exit 2 ;;
  esac
  start=$SECONDS
  [ "$phase" = run ] || build_lane "$lane"
  if [ "$phase" != build ]; then
    "run_$lane"
    echo "== sanitizer lane $lane: $((SECONDS - start)) s"
  fi
done
