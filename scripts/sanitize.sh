#!/usr/bin/env bash
# Builds the engine and its tests with AddressSanitizer and UndefinedBehaviorSanitizer into
# build-asan/ (no window, no benchmarks) and runs the tests through ctest; extra arguments go to
# ctest. Any sanitizer report fails the test that caused it: UBSan does not recover, and the
# floating-point checks that -fsanitize=undefined leaves out (a long double too large for the
# integer it is converted to, a division by zero) are on as well.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
swelox_install_missing

checks="-fsanitize=float-cast-overflow,float-divide-by-zero -fno-sanitize-recover=all"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSWELOX_SANITIZE=ON \
  -DSWELOX_BUILD_APP=OFF -DSWELOX_BUILD_BENCH=OFF \
  -DCMAKE_C_FLAGS="$checks" -DCMAKE_CXX_FLAGS="$checks" >/dev/null
cmake --build build-asan -j "$(nproc)"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir build-asan --output-on-failure -j "$(nproc)" "$@"
