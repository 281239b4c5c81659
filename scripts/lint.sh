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
# took close to a minute for one file and found nothing more).
export LINT_TIDY_ARGS="--quiet --extra-arg=-Xclang --extra-arg=-analyzer-config --extra-arg=-Xclang --extra-arg=max-nodes=75000"
# A file found clean is remembered in the build folder, by a digest of all that decides the
# result: the tool and its settings, the compile commands, every project header and the file
# itself. A later lint analyses only what changed.
export LINT_BUILD=$build LINT_CLEAN=$build/lint-clean
mkdir -p "$LINT_CLEAN"
LINT_SHARED=$({
  clang-tidy --version
  echo "$LINT_TIDY_ARGS"
  cat "$build/compile_commands.json"
  git ls-files -z '*.h' '.clang-tidy' '*/.clang-tidy' | xargs -0 cat
} | sha256sum | cut -d' ' -f1)
export LINT_SHARED
tidy() {
  local key
  key=$({ echo "$LINT_SHARED"; cat "$1"; } | sha256sum | cut -d' ' -f1)
  [[ -f $LINT_CLEAN/$key ]] && return 0
  # shellcheck disable=SC2086 # the arguments are words on purpose
  clang-tidy -p "$LINT_BUILD" $LINT_TIDY_ARGS "$1" && touch "$LINT_CLEAN/$key"
}
export -f tidy
git ls-files -z 'util/*.cpp' 'checker/*.cpp' 'directory/*.cpp' 'cli/*.cpp' 'lsp/*.cpp' 'ui/*.cpp' 'app/*.cpp' ':!*bench*' |
  xargs -0 -n1 -P"$(nproc)" bash -c 'tidy "$1"' _ \
    2> >(grep -v 'warnings\? generated\.$' >&2)
