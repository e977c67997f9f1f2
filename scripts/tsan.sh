#!/usr/bin/env bash
# The engine, the console program and their tests under ThreadSanitizer:
# every test that starts threads (the copy workers, the move compares, the
# trash look-ahead, the timer, the schedulers) runs with the race detector.
# The desktop program is left out: Qt's own libraries are not instrumented,
# so its threads would only report Qt's internals.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh runtime build test
dir=build-tsan
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DDUPLORA_TSAN=ON \
    -DDUPLORA_BUILD_GUI=OFF -DDUPLORA_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" --target engine_tests duplora-cli
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" -E '^ShareServerTest$'
