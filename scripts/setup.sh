#!/usr/bin/env bash
# The Debian packages Swelox needs, in three lists, and the one build step the scripts share.
# Sourced by run.sh, test.sh and the other scripts.

# Building and running the two programs (help2man makes swelox-cli's manual page).
swelox_build_packages=(
  cmake g++ make pkg-config
  libjpeg62-turbo-dev qt6-base-dev qt6-svg-dev
  help2man
)

# The test suite, benchmarks, fuzzing and CI: GoogleTest and Google Benchmark, cjpeg/djpeg and
# jpegtran as yardsticks, clang for libFuzzer, clang-format for CI's check of the format, an X
# server and its tools for the window's tests, tmux for the terminal test, the measuring tools of
# bench/, exiftool to write capture times into test photos, and pandas for the test of the
# README's join of rows to sightings.
swelox_test_packages=(
  libgtest-dev libgmock-dev libbenchmark-dev
  libjpeg-turbo-progs
  clang libclang-rt-14-dev clang-format
  xvfb x11-utils xauth libx11-dev imagemagick
  tmux time hyperfine netpbm
  libimage-exiftool-perl
  python3 python3-pandas
)

# scripts/make-deb.sh: the package tools and the checks run on the package.
swelox_packaging_packages=(
  dpkg-dev file lintian desktop-file-utils man-db
)

# Installs the packages of the lists named (build, test, packaging; without a name: build and
# test) that are missing, through sudo when not root. Output goes to standard error.
swelox_install_missing() {
  [ $# -eq 0 ] && set -- build test
  local missing=() list p
  for list in "$@"; do
    local -n packages="swelox_${list}_packages"
    for p in "${packages[@]}"; do
      dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$p")
    done
    unset -n packages
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}" >&2
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq >&2
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >&2
}

# swelox_build DIR [CMAKE_ARGUMENT...] [-- BUILD_ARGUMENT...]: configures DIR (default build/)
# and builds in it; arguments after "--" go to the build (for example --target swelox).
swelox_build() {
  local dir="${1:-build}"
  shift || true
  local configure=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    configure+=("$1")
    shift
  done
  [ $# -gt 0 ] && shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${configure[@]}" >/dev/null
  cmake --build "$dir" -j "$(nproc)" "$@"
}
