#!/usr/bin/env bash
# Installs everything the build and the tests need, from Debian's packages and
# the npm registry. Safe to run again: it installs only what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# chromium: the reference installer page's browser test (driven by playwright-core).
packages=(g++ cmake ninja-build pkg-config make msitools wixl libmsi-dev gcab libgcab-dev
          libgsf-1-dev libsqlite3-dev libssl-dev uuid-dev mingw-w64 wine64 googletest ca-certificates openssl osslsigncode
          python3-pefile chromium ccache)
command -v node >/dev/null && command -v npm >/dev/null || packages+=(nodejs npm)
# The libFuzzer targets of the sanitizer lanes are built with clang.
packages+=(clang libclang-rt-dev)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo=""; [ "$(id -u)" = 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

if [ ! -f node_modules/.package-lock.json ] || [ package-lock.json -nt node_modules/.package-lock.json ]; then
  npm ci --no-audit --no-fund --loglevel=error
fi

# The Windows lane runs the tests under Wine with the Windows node.exe.
. scripts/windows-env.sh
fetch_node_exe
