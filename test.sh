#!/usr/bin/env bash
# Sets up everything, builds with AddressSanitizer and UndefinedBehaviorSanitizer and runs
# every test through ctest.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
cmake --preset dev-asan >/dev/null
# The sources are laid out as .clang-format says and pass the checks .clang-tidy names.
scripts/lint.sh build/dev-asan
cmake --build --preset dev-asan
ctest --preset dev-asan -j2
# A short run of every fuzz target (scripts/fuzz.sh SECONDS for longer ones).
scripts/fuzz.sh 5
