#!/usr/bin/env bash
# Builds the Debian package dist/swelox_VERSION_amd64.deb with CPack into build-deb/ (the two
# programs, their manual pages, the desktop entry and the icon) and checks it: lintian must
# report no error and the desktop entry must be valid.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
swelox_install_missing build packaging

dir=build-deb
swelox_build "$dir" -DCMAKE_INSTALL_PREFIX=/usr -DBUILD_TESTING=OFF -DSWELOX_BUILD_BENCH=OFF \
  >/dev/null
(cd "$dir" && cpack -G DEB -B "$PWD/../dist" >/dev/null)
rm -rf dist/_CPack_Packages
deb=$(ls -t dist/swelox_*_amd64.deb | head -n 1)

desktop-file-validate packaging/swelox.desktop
# Errors fail the check; warnings are shown.
lintian --fail-on error --tag-display-limit 0 "$deb" >&2
echo "$deb"
