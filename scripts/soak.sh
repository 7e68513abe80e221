#!/usr/bin/env bash
# The soak, on demand (Linux): 10,000 asynchronous calls and 100 install and
# removal cycles of the generated package plain.msi through msi_setup_manager,
# in one user-interface process started by the bootstrapper, with a temporary
# INSTALLER_VESK_HOME. Prints open file descriptors, threads and RSS at every
# tenth of each phase; fails when one grows beyond noise (test/soak/soak.js).
#
#   scripts/soak.sh [--calls N] [--cycles N]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/build.sh linux
build=$root/build/linux-x64
product='{3C0F5D2E-8B4A-4E61-9A7D-2F1B6C8E4A10}'  # plain.msi (test/packages/plain/plain.wxs)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/ui"
cp "$build/test/packages/heron.cab" "$work/ui/"  # plain.msi's external cabinet
INSTALLER_VESK_HOME=$work/home "$build/tools/bootstrapper/bootstrapper" \
  --package "$build/test/packages/plain.msi" --dir "$work/ui" \
  -- "$(command -v node)" --expose-gc "$root/test/soak/soak.js" --product "$product" "$@"
