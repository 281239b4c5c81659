#!/usr/bin/env bash
# Checks that every C++ source is laid out as .clang-format says; fails naming the files
# that are not. `clang-format -i FILE` lays a file out.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.cpp' '*.h' ':!tests/fixtures' | xargs -0 clang-format --dry-run --Werror
