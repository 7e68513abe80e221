#!/usr/bin/env bash
# The Windows lane: MinGW cross-builds for x86_64 (with the tests) and i686 (the
# product alone), and release builds of both, signed with a certificate made for
# this run and then checked. The x86_64 build's native tests run under wine64; the
# script tests run with the Windows node.exe renamed electron.exe, alone in a
# folder (the addon must load in a host of any name), then the tests of the
# host's name and folder with node.exe itself, and the tracing tests on the
# x86_64 release build.
# (There is no 32-bit Wine here: the i686 builds are compiled, linked and checked only.)
#
#   scripts/test-windows.sh [build|run]   (both by default; run expects build's output)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
. scripts/windows-env.sh
phase=${1:-all}
case "$phase" in
  build | run | all) ;;
  *) echo "usage: test-windows.sh [build|run]" >&2; exit 2 ;;
esac

# The throwaway signing certificate of this run. Taken as its own trust anchor,
# it lets osslsigncode verify the whole signature: the signer chain, and that the
# signed digest matches the file (a copy with one byte changed must fail).
signing=$root/build/test-signing

build_lane() {
  scripts/build.sh win64 -DCMAKE_CROSSCOMPILING_EMULATOR=/usr/lib/wine/wine64
  # The i686 tests would never run: the product and the tools are built.
  scripts/build.sh win32 -DBUILD_TESTING=OFF
  mkdir -p "$signing"
  openssl req -x509 -newkey rsa:3072 -nodes -days 1 -subj "/CN=installer_vesk test signing" \
    -addext "extendedKeyUsage=codeSigning" -keyout "$signing/key.pem" -out "$signing/cert.pem" 2>/dev/null
  # The same compiler and flags as the lane's builds: the compiler cache serves them.
  for lane in win32 win64; do
    INSTALLER_SIGN_CERT=$signing/cert.pem INSTALLER_SIGN_KEY=$signing/key.pem scripts/build.sh "$lane" --release
  done
}

check_releases() {
  local work
  work=$(mktemp -d)
  for arch in ia32 x64; do
    local dir=build/win32-$arch-release
    echo "== release build $dir"
    /usr/bin/python3 scripts/check-windows-release.py "$dir" "$arch" --signed
    if ! osslsigncode verify -CAfile "$signing/cert.pem" -in "$dir/installer_vesk.node" >"$work/verify.txt" 2>&1; then
      cat "$work/verify.txt"
      echo "FAIL: the signature of $dir/installer_vesk.node does not verify" >&2
      exit 1
    fi
    echo "ok:   signature verifies against the test certificate"
    local tampered=$work/tampered.node offset=4096 byte  # inside .text
    cp "$dir/installer_vesk.node" "$tampered"
    byte=$(od -An -tu1 -j $offset -N1 "$tampered" | tr -d ' ')
    printf "\\x$(printf %02x $((byte ^ 0xff)))" | dd of="$tampered" bs=1 seek=$offset conv=notrunc status=none
    if osslsigncode verify -CAfile "$signing/cert.pem" -in "$tampered" >"$work/verify.txt" 2>&1; then
      echo "FAIL: a copy of $dir/installer_vesk.node with one byte changed still verifies" >&2
      exit 1
    fi
    echo "ok:   a copy with one byte changed does not verify"
  done
  rm -rf "$work"
}

# Wine's background services inherit the output of the first Wine process: it
# goes to a log file (a pipe would keep the test runners waiting on them). A
# fresh prefix reports Windows 7, which node.exe refuses; it is set to Windows 10 once.
start_wine() {
  local wine_log=$root/build/wine-setup.log
  if ! {
    mkdir -p "$WINEPREFIX" &&
    { wineserver -p || echo "wineserver -p: status $? (2: a server already runs for this prefix)"; } &&
    { [ -f "$WINEPREFIX/.win10" ] || { wine64 winecfg /v win10 && touch "$WINEPREFIX/.win10"; }; } &&
    wine64 wineboot
  } >"$wine_log" 2>&1; then
    echo "test-windows: Wine set-up failed; the end of $wine_log:" >&2
    tail -n 40 "$wine_log" >&2
    exit 1
  fi
}

windows_path() { echo "Z:${1//\//\\}"; }

# run_script_tests <label> <host executable> <build folder> <test files...>
# node.exe under Wine cannot write to a pipe: the report goes to a file. One test file
# at a time: several of them use the bootstrapper's named objects.
status=0
run_script_tests() {
  local label=$1 host=$2 build_dir=$3 result=0 file
  shift 3
  local report=$root/build/win32-x64/script-tests-$label.txt tests=()
  for file in "$@"; do tests+=("$(windows_path "$root/$file")"); done
  echo "== script tests: $label"
  INSTALLER_BUILD_DIR=$(windows_path "$root/$build_dir") wine64 "$host" --test --test-concurrency=1 --test-reporter=tap \
    "--test-reporter-destination=$(windows_path "$report")" "${tests[@]}" >"$report.stdout" 2>&1 || result=$?
  cat "$report" "$report.stdout" 2>/dev/null || true
  [ $result = 0 ] || status=$result
}

run_lane() {
  if [ ! -f "$node_exe" ]; then
    echo "test-windows: no $node_exe: run scripts/setup.sh first" >&2
    exit 1
  fi
  check_releases
  trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
  start_wine

  (cd build/win32-x64 && ctest --output-on-failure --timeout 600 -j2 -E '^msi_package_fuzz$')
  # The package fuzzer's CI share against Wine's msi.dll, run here rather than in
  # CTest so that its list of Wine's crashes is in the output. Wine's hangs are
  # counted, not failed: two seconds tell one (a whole mutation takes a fraction of that).
  echo "== package fuzz against Wine's msi.dll"
  wine64 build/win32-x64/test/fuzz/packages/msi_package_fuzz.exe --count 1000 --hang-seconds 2

  # The host of production is not called node.exe: the whole suite runs in a copy
  # named electron.exe with no node.exe beside it. node.exe itself runs the tests
  # that depend on the host's name and folder.
  local electron_dir=$cache/electron-host
  mkdir -p "$electron_dir"
  cmp -s "$node_exe" "$electron_dir/electron.exe" || cp "$node_exe" "$electron_dir/electron.exe"
  run_script_tests electron.exe "$electron_dir/electron.exe" build/win32-x64 test/script/*.test.js
  run_script_tests node.exe "$node_exe" build/win32-x64 test/script/installer_controller.test.js \
    test/script/setup_flow.test.js
  run_script_tests electron.exe-release "$electron_dir/electron.exe" build/win32-x64-release test/script/tracing.test.js

  # The bridge fuzzer's CI share with the Windows addons (it never calls a restart under Windows).
  local fuzz_report=$root/build/win32-x64/bridge-fuzz.txt
  echo "== bridge fuzzer"
  INSTALLER_BUILD_DIR=$(windows_path "$root/build/win32-x64") wine64 "$node_exe" \
    "$(windows_path "$root/test/fuzz/bridge/bridge_fuzz.js")" --calls 20000 >"$fuzz_report" 2>&1 || status=$?
  cat "$fuzz_report"
}

[ "$phase" = run ] || build_lane
[ "$phase" = build ] || run_lane
exit $status
