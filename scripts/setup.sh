#!/usr/bin/env bash
# Installs the Debian packages that building and testing Swelox need, when any is missing.
# Sourced by run.sh and test.sh.

swelox_packages=(
  cmake g++ make pkg-config
  libjpeg62-turbo-dev libjpeg-turbo-progs
  qt6-base-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  xvfb x11-apps x11-utils xauth imagemagick libx11-dev
  time hyperfine imagemagick netpbm libjpeg-turbo-progs
)

swelox_install_missing() {
  local missing=()
  for p in "${swelox_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}" >&2
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Configures and builds into the given folder (default build/) with any extra CMake arguments.
swelox_build() {
  local dir="${1:-build}"
  shift || true
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
}
