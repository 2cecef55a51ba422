#!/usr/bin/env bash
# Installs what building and testing need, builds everything into build/ and runs the whole test
# suite through ctest; extra arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh
swelox_install_missing build test
swelox_build build
ctest --test-dir build --output-on-failure -j "$(nproc)" "$@"
