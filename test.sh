#!/usr/bin/env bash
# Sets up everything, builds with AddressSanitizer and UndefinedBehaviorSanitizer and runs
# every test through ctest.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
# The sources are laid out as .clang-format says.
scripts/lint.sh
cmake --preset dev-asan >/dev/null
cmake --build --preset dev-asan
ctest --preset dev-asan -j2
# A short run of every fuzz target (scripts/fuzz.sh SECONDS for longer ones).
scripts/fuzz.sh 5
