#!/usr/bin/env bash
# Installs what is missing to build and run, builds Duplora and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh runtime build
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDUPLORA_BUILD_TESTS=OFF >/dev/null
cmake --build build --target duplora duplora-cli
exec build/duplora "$@"
