#!/usr/bin/env bash
# The main job: installs what is missing, builds the Linux addon and runs the
# terminal installer over the sample product (install, start, removal).
# Arguments go to the installer: --yes, --keep, --package FILE (see --help).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh linux
exec node examples/terminal-installer/main.js "$@"
