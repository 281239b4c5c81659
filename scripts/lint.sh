#!/usr/bin/env bash
# Checks the C++ sources: every file is laid out as .clang-format says (`clang-format -i FILE`
# lays a file out), and the programs' own sources pass the checks .clang-tidy names. Fails
# naming what is wrong. clang-tidy reads the compile commands of a configured build:
# scripts/lint.sh [BUILD_FOLDER], build/dev-asan by default, configured here when it is not.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/dev-asan}

git ls-files -z '*.cpp' '*.h' ':!tests/fixtures' | xargs -0 clang-format --dry-run --Werror

if [[ ! -f "$build/compile_commands.json" ]]; then
  cmake --preset dev-asan >/dev/null
  build=build/dev-asan
fi
# Tests, benchmarks and fuzz targets are left out: the checks guard what users run. The
# analyzer explores at most 75,000 states per function (its shallow budget; the deep default
# took close to a minute for one file and found nothing more), so the lint stays a few minutes.
analyzer_budget=(--extra-arg=-Xclang --extra-arg=-analyzer-config --extra-arg=-Xclang --extra-arg=max-nodes=75000)
git ls-files -z 'util/*.cpp' 'checker/*.cpp' 'directory/*.cpp' 'cli/*.cpp' 'ui/*.cpp' 'app/*.cpp' ':!*bench*' |
  xargs -0 -n1 -P"$(nproc)" clang-tidy -p "$build" --quiet "${analyzer_budget[@]}" \
    2> >(grep -v 'warnings\? generated\.$' >&2)
