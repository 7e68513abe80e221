#!/usr/bin/env bash
# The Windows lane: MinGW cross-builds for x86_64 and i686, and release builds of
# both, signed with a certificate made for this run and then checked. The x86_64
# build's native tests run under wine64; the script tests run twice, with the
# Windows node.exe and with a copy of it named electron.exe in a folder of its
# own (the addon must load in a host of any name), which also runs the tracing
# tests on the x86_64 release build.
# (There is no 32-bit Wine here: the i686 builds are compiled, linked and checked only.)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
. scripts/windows-env.sh
if [ ! -f "$node_exe" ]; then
  echo "test-windows: no $node_exe: run scripts/setup.sh first" >&2
  exit 1
fi

work=$(mktemp -d)
stop_wine() { wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"; }
trap stop_wine EXIT

scripts/build.sh win32
scripts/build.sh win64 -DCMAKE_CROSSCOMPILING_EMULATOR=/usr/lib/wine/wine64

# Release builds, signed with a throwaway self-signed certificate. Taken as its
# own trust anchor, the certificate lets osslsigncode verify the whole signature:
# the signer chain, and that the signed digest matches the file (a copy with one
# byte changed must fail).
openssl req -x509 -newkey rsa:3072 -nodes -days 1 -subj "/CN=installer_vesk test signing" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
for lane in win32 win64; do
  INSTALLER_SIGN_CERT=$work/cert.pem INSTALLER_SIGN_KEY=$work/key.pem scripts/build.sh "$lane" --release
done
for arch in ia32 x64; do
  dir=build/win32-$arch-release
  echo "== release build $dir"
  /usr/bin/python3 scripts/check-windows-release.py "$dir" "$arch" --signed
  if ! osslsigncode verify -CAfile "$work/cert.pem" -in "$dir/installer_vesk.node" >"$work/verify.txt" 2>&1; then
    cat "$work/verify.txt"
    echo "FAIL: the signature of $dir/installer_vesk.node does not verify" >&2
    exit 1
  fi
  echo "ok:   signature verifies against the test certificate"
  tampered=$work/tampered.node
  cp "$dir/installer_vesk.node" "$tampered"
  offset=4096  # inside .text
  byte=$(od -An -tu1 -j $offset -N1 "$tampered" | tr -d ' ')
  printf "\\x$(printf %02x $((byte ^ 0xff)))" | dd of="$tampered" bs=1 seek=$offset conv=notrunc status=none
  if osslsigncode verify -CAfile "$work/cert.pem" -in "$tampered" >"$work/verify.txt" 2>&1; then
    echo "FAIL: a copy of $dir/installer_vesk.node with one byte changed still verifies" >&2
    exit 1
  fi
  echo "ok:   a copy with one byte changed does not verify"
done

# Wine's background services inherit the output of the first Wine process: it
# goes to a log file (a pipe would keep the test runners waiting on them). A
# fresh prefix reports Windows 7, which node.exe refuses; it is set to Windows 10 once.
wine_log=$root/build/wine-setup.log
start_wine() {
  mkdir -p "$WINEPREFIX" &&
  { wineserver -p || echo "wineserver -p: status $? (2: a server already runs for this prefix)"; } &&
  { [ -f "$WINEPREFIX/.win10" ] || { wine64 winecfg /v win10 && touch "$WINEPREFIX/.win10"; }; } &&
  wine64 wineboot
}
if ! start_wine >"$wine_log" 2>&1; then
  echo "test-windows: Wine set-up failed; the end of $wine_log:" >&2
  tail -n 40 "$wine_log" >&2
  exit 1
fi

(cd build/win32-x64 && ctest --output-on-failure --timeout 600 -E '^msi_package_fuzz$')
# The package fuzzer's CI share against Wine's msi.dll, run here rather than in
# CTest so that its list of Wine's crashes is in the output.
echo "== package fuzz against Wine's msi.dll"
wine64 build/win32-x64/test/fuzz/packages/msi_package_fuzz.exe --count 1000

windows_path() { echo "Z:${1//\//\\}"; }
all_tests=()
for file in test/script/*.test.js; do all_tests+=("$(windows_path "$root/$file")"); done

# run_script_tests <label> <host executable> <build folder> <test files...>
# node.exe under Wine cannot write to a pipe: the report goes to a file. One test file
# at a time: several of them use the bootstrapper's named objects.
status=0
run_script_tests() {
  local label=$1 host=$2 build_dir=$3 result=0
  shift 3
  local report=$root/build/win32-x64/script-tests-$label.txt
  echo "== script tests: $label"
  INSTALLER_BUILD_DIR=$(windows_path "$root/$build_dir") wine64 "$host" --test --test-concurrency=1 --test-reporter=tap \
    "--test-reporter-destination=$(windows_path "$report")" "$@" >"$report.stdout" 2>&1 || result=$?
  cat "$report" "$report.stdout" 2>/dev/null || true
  [ $result = 0 ] || status=$result
}

run_script_tests node.exe "$node_exe" build/win32-x64 "${all_tests[@]}"

# The same Windows node.exe under another name, with no node.exe beside it.
electron_dir=$cache/electron-host
mkdir -p "$electron_dir"
cmp -s "$node_exe" "$electron_dir/electron.exe" || cp "$node_exe" "$electron_dir/electron.exe"
run_script_tests electron.exe "$electron_dir/electron.exe" build/win32-x64 "${all_tests[@]}"
run_script_tests electron.exe-release "$electron_dir/electron.exe" build/win32-x64-release \
  "$(windows_path "$root/test/script/tracing.test.js")"

# The bridge fuzzer's CI share with the Windows addons (it never calls a restart under Windows).
fuzz_report=$root/build/win32-x64/bridge-fuzz.txt
echo "== bridge fuzzer"
INSTALLER_BUILD_DIR=$(windows_path "$root/build/win32-x64") wine64 "$node_exe" \
  "$(windows_path "$root/test/fuzz/bridge/bridge_fuzz.js")" --calls 20000 >"$fuzz_report" 2>&1 || status=$?
cat "$fuzz_report"
exit $status
