#!/usr/bin/env bash
# Builds the Debian package dist/swelox_VERSION_amd64.deb with CPack (the two programs, their
# manual pages, the desktop entry and the icon) and checks it: the desktop entry must be valid
# and lintian must report no error (its warnings are shown). Prints the package's path.
#   scripts/make-deb.sh [BUILD_FOLDER]
# By default it configures and builds build-deb/; a folder given (CI passes test.sh's build/) is
# only brought up to date.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
swelox_install_missing build packaging

if [ $# -gt 0 ]; then
  dir=$1
  cmake --build "$dir" -j "$(nproc)" >/dev/null
else
  dir=build-deb
  swelox_build "$dir" -DBUILD_TESTING=OFF -DSWELOX_BUILD_BENCH=OFF >/dev/null
fi
mkdir -p dist
if ! (cd "$dir" && cpack -G DEB -B "$OLDPWD/dist") >"$dir/cpack.log" 2>&1; then
  cat "$dir/cpack.log" >&2
  exit 1
fi
rm -rf dist/_CPack_Packages
deb=dist/$(cd dist && ls -t swelox_*_amd64.deb | head -n 1)

desktop-file-validate packaging/swelox.desktop
lintian --fail-on error --tag-display-limit 0 "$deb" >&2
echo "$deb"
