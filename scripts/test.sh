#!/usr/bin/env bash
# Installs what is missing (runtime, build and test sets), builds everything
# and runs every test.
# DUPLORA_SANITIZE=1 builds and tests under AddressSanitizer and UBSan instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh runtime build test

dir=build
args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${DUPLORA_SANITIZE:-0}" = 1 ]; then
    dir=build-asan
    args=(-DCMAKE_BUILD_TYPE=Debug -DDUPLORA_SANITIZE=ON -DDUPLORA_BUILD_BENCH=OFF)
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
    export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
fi
cmake -S . -B "$dir" -G Ninja "${args[@]}" >/dev/null
cmake --build "$dir"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
