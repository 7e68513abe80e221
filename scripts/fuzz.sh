#!/usr/bin/env bash
# The fuzzers of test/fuzz, each with a fixed seed (Linux).
#
#   scripts/fuzz.sh                 the short runs that CI makes (bridge and text in
#                                   scripts/test-sanitizers.sh, packages in scripts/test-linux.sh)
#   scripts/fuzz.sh --long          the long runs, on demand
#   ... [--bridge | --text | --packages]   only that fuzzer (the options add up)
#
# bridge:   test/fuzz/bridge/bridge_fuzz.js over the ASan+UBSan addons of
#           build/linux-asan: 20,000 calls, or 1,000,000 with --long
#           (BRIDGE_FUZZ_CALLS overrides either);
# text:     every libFuzzer target of test/fuzz/text, built with clang in
#           build/linux-fuzz: 50,000 inputs each, or FUZZ_TIME seconds each with
#           --long (600 by default). New inputs go to a temporary corpus; a crash
#           leaves its input in build/linux-fuzz/findings/.
# packages: test/fuzz/packages/script_package_fuzz.js, the package classes of the
#           script over damaged packages, with the addon of build/linux-x64:
#           1,000 mutations, or 100,000 with --long (PACKAGE_FUZZ_COUNT overrides
#           either). The native package fuzzer is scripts/fuzz-packages.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
. scripts/sanitizer-env.sh

long=false
parts=()
for argument in "$@"; do
  case "$argument" in
    --long) long=true ;;
    --bridge) parts+=(bridge) ;;
    --text) parts+=(text) ;;
    --packages) parts+=(packages) ;;
    *) echo "usage: fuzz.sh [--long] [--bridge | --text | --packages]..." >&2; exit 2 ;;
  esac
done
((${#parts[@]})) || parts=(bridge text packages)

bridge_seed=13
text_seed=1
packages_seed=13

fuzz_bridge() {
  local calls=20000 limit=900
  if $long; then calls=1000000 limit=$((6 * 3600)); fi
  calls=${BRIDGE_FUZZ_CALLS:-$calls}
  build_asan >/dev/null
  echo "== bridge fuzzer: $calls calls, seed $bridge_seed (ASan+UBSan addons)"
  # The fuzzer's watchdog aborts on a call that hangs; the limit is the backstop.
  timeout --signal=ABRT "$limit" "${asan_node[@]}" node test/fuzz/bridge/bridge_fuzz.js \
    --calls "$calls" --seed "$bridge_seed"
}

fuzz_text() {
  build_fuzz >/dev/null
  local findings=$fuzz_dir/findings work status=0
  mkdir -p "$findings"
  work=$(mktemp -d)
  trap 'rm -rf "$work"' RETURN
  local budget=(-runs=50000)
  $long && budget=(-max_total_time="${FUZZ_TIME:-600}")
  for fuzzer in "$fuzz_dir"/test/fuzz/text/fuzz_*; do
    local name=${fuzzer##*/fuzz_} options=()
    local sources=$root/test/fuzz/text
    [ -f "$sources/$name.dict" ] && options+=(-dict="$sources/$name.dict")
    mkdir -p "$work/$name"
    local start=$SECONDS
    if "$fuzzer" -seed=$text_seed "${budget[@]}" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$findings/$name-" "${options[@]}" "$work/$name" "$sources/corpus/$name" \
        >"$work/$name.log" 2>&1; then
      echo "== libFuzzer $name: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$work/$name.log" | grep -o '[0-9]*$') inputs, $((SECONDS - start)) s"
    else
      tail -n 40 "$work/$name.log"
      echo "FAIL: libFuzzer $name found a fault; its input is in $findings/" >&2
      status=1
    fi
  done
  return $status
}

fuzz_packages() {
  local count=1000
  $long && count=100000
  count=${PACKAGE_FUZZ_COUNT:-$count}
  "$root/scripts/build.sh" linux >/dev/null || return 1
  echo "== script package fuzzer: $count mutations, seed $packages_seed"
  node test/fuzz/packages/script_package_fuzz.js --count "$count" --seed "$packages_seed"
}

status=0
for part in "${parts[@]}"; do
  "fuzz_$part" || status=1
done
exit $status
