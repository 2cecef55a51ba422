#!/usr/bin/env bash
# Installs what building and running need, builds the two programs into build-run/ and runs
# swelox-cli with the arguments given, or opens the window when there are none. Standard output
# carries only the results; the set-up and the build write to build-run/build.log.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh

dir=build-run
log=$dir/build.log
mkdir -p "$dir"
echo "Setting up and building swelox and swelox-cli (log: $log)" >&2
if ! {
  swelox_install_missing build &&
    swelox_build "$dir" -DBUILD_TESTING=OFF -DSWELOX_BUILD_BENCH=OFF -DSWELOX_MAN_PAGES=OFF \
      -- --target swelox swelox-cli
} >"$log" 2>&1; then
  tail -n 20 "$log" >&2
  echo "Building failed; the whole log is in $log" >&2
  exit 1
fi

if [ $# -gt 0 ]; then
  exec "$dir"/cli/swelox-cli "$@"
fi
if [ -x "$dir"/app/swelox ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
  exec "$dir"/app/swelox
fi
echo "No display available: analysing the sample photos in examples/ with swelox-cli." >&2
exec "$dir"/cli/swelox-cli examples/*.jpg
