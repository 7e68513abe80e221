#!/usr/bin/env bash
# Builds one lane: linux (native gcc), win64 (MinGW x86_64) or win32 (MinGW i686).
# Output: build/<platform>-<arch>/ (linux-x64, win32-x64, win32-ia32).
set -euo pipefail
cd "$(dirname "$0")/.."

lane=${1:?usage: build.sh linux|win64|win32 [cmake args...]}
shift
case "$lane" in
  linux) dir=build/linux-x64;  args=() ;;
  win64) dir=build/win32-x64;  args=(-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake) ;;
  win32) dir=build/win32-ia32; args=(-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake) ;;
  *) echo "unknown lane: $lane" >&2; exit 2 ;;
esac

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${args[@]}" "$@" >/dev/null
cmake --build "$dir"
