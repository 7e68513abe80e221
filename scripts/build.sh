#!/usr/bin/env bash
# Builds one lane: linux (native gcc), win64 (MinGW x86_64) or win32 (MinGW i686).
# Output: build/<platform>-<arch>/ (linux-x64, win32-x64, win32-ia32).
#
# --release (Windows lanes): the production addon alone, in build/<platform>-<arch>-release/:
# installer_vesk.node (optimised, stripped, with its version resource) and
# installer_vesk.node.debug (its debug information). It is signed when
# INSTALLER_SIGN_CERT and INSTALLER_SIGN_KEY name a PEM certificate and its key
# (INSTALLER_SIGN_PASSWORD_FILE: a file holding the key's password, if any).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
. scripts/compiler-cache.sh

usage="usage: build.sh linux|win64|win32 [--release] [cmake args...]"
lane=${1:?$usage}
shift
release=false
if [ "${1:-}" = --release ]; then release=true; shift; fi

case "$lane" in
  linux) dir=build/linux-x64;  args=() ;;
  win64) dir=build/win32-x64;  args=(-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake) ;;
  win32) dir=build/win32-ia32; args=(-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake) ;;
  *) echo "$usage" >&2; exit 2 ;;
esac

absolute() { [ -z "$1" ] || realpath "$1"; }
if $release; then
  [ "$lane" != linux ] || { echo "build.sh: --release is for the Windows lanes" >&2; exit 2; }
  dir=$dir-release
  # Given every time, so that a signing key named once is not reused from the cache.
  args+=(-DINSTALLER_RELEASE=ON -DBUILD_TESTING=OFF
         "-DINSTALLER_SIGN_CERT=$(absolute "${INSTALLER_SIGN_CERT:-}")"
         "-DINSTALLER_SIGN_KEY=$(absolute "${INSTALLER_SIGN_KEY:-}")"
         "-DINSTALLER_SIGN_PASSWORD_FILE=$(absolute "${INSTALLER_SIGN_PASSWORD_FILE:-}")")
fi

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${compiler_cache_args[@]}" "${args[@]}" "$@" >/dev/null
cmake --build "$dir"
