#!/usr/bin/env bash
# Installs what is missing, builds into build/, then runs swelox-cli with the arguments given,
# or opens the window when there are none.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh
swelox_install_missing
swelox_build build

if [ $# -gt 0 ]; then
  exec build/cli/swelox-cli "$@"
fi
if [ -x build/app/swelox ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
  exec build/app/swelox
fi
echo "No display available: analysing the sample photos in examples/ with swelox-cli." >&2
exec build/cli/swelox-cli examples/*.jpg
