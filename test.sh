#!/usr/bin/env bash
# Installs what is missing, builds into build/ and runs the whole test suite through ctest.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh
swelox_install_missing
swelox_build build
ctest --test-dir build --output-on-failure -j "$(nproc)" "$@"
