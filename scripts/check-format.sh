#!/usr/bin/env bash
# Fails when a C++ file of the repository differs from what clang-format
# makes of it with the project's .clang-format. `clang-format -i FILE` mends it.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || scripts/install-deps.sh test
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
echo "clang-format: $(git ls-files '*.cpp' '*.h' | wc -l) files formatted"
