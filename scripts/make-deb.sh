#!/usr/bin/env bash
# Builds the Debian package dist/swelox_VERSION_amd64.deb with CPack (the two programs, their
# manual pages, the desktop entry and the icon) from a build with Debian's hardening flags, and
# checks it: the desktop entry must be valid, the programs must use the shared C++ runtime, and
# `lintian --pedantic` must report no error and no hardening tag (its other findings are shown).
# Prints the package's path.
#   scripts/make-deb.sh [BUILD_FOLDER]
# By default it configures and builds build-deb/; a folder given (CI passes test.sh's build/) is
# configured with the hardening flags too (nothing is rebuilt when it already has them).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
swelox_install_missing build packaging

if [ $# -gt 0 ]; then
  dir=$1
  cmake -S . -B "$dir" -DSWELOX_HARDENING=ON >/dev/null
  cmake --build "$dir" -j "$(nproc)" >/dev/null
else
  dir=build-deb
  swelox_build "$dir" -DSWELOX_HARDENING=ON -DBUILD_TESTING=OFF -DSWELOX_BUILD_BENCH=OFF >/dev/null
fi
mkdir -p dist
if ! (cd "$dir" && cpack -G DEB -B "$OLDPWD/dist") >"$dir/cpack.log" 2>&1; then
  cat "$dir/cpack.log" >&2
  exit 1
fi
rm -rf dist/_CPack_Packages
deb=dist/$(cd dist && ls -t swelox_*_amd64.deb | head -n 1)

desktop-file-validate packaging/swelox.desktop

# The programs as packaged: linked to the shared C++ runtime, not carrying a copy of it.
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
for program in swelox swelox-cli; do
  if ! readelf -d "$unpacked/usr/bin/$program" | grep -q 'NEEDED.*libstdc++'; then
    echo "$program does not use the shared C++ runtime" >&2
    exit 1
  fi
done

report=$(lintian --pedantic --fail-on error --tag-display-limit 0 "$deb") || {
  echo "$report" >&2
  echo "lintian found errors in $deb" >&2
  exit 1
}
[ -z "$report" ] || echo "$report" >&2
if grep -q 'hardening-' <<<"$report"; then
  echo "lintian found programs built without Debian's hardening in $deb" >&2
  exit 1
fi
echo "$deb"
