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
# analyzer runs in its shallow mode: at most 75,000 states per function and little inlining
# across calls. Its deep default took close to a minute for one file and found nothing more,
# and with the node limit alone the analyzer took three quarters of a cold lint (seven
# minutes on two cores): 24 s of the document loader's 28, where the shallow mode takes 7.
export LINT_TIDY_ARGS="--quiet --extra-arg=-Xclang --extra-arg=-analyzer-config --extra-arg=-Xclang --extra-arg=mode=shallow"
# A file found clean is remembered in the build folder, by a digest of all that decides the
# result: the tool and its settings, the compile commands, the project headers the file
# includes and the file itself. Which headers those are, the build's last compile of the
# file says; a file not compiled yet counts every project header. A later lint analyses only
# what changed.
export LINT_BUILD=$build LINT_CLEAN=$build/lint-clean
mkdir -p "$LINT_CLEAN"
LINT_SHARED=$({
  clang-tidy --version
  echo "$LINT_TIDY_ARGS"
  cat "$build/compile_commands.json"
  git ls-files -z '.clang-tidy' '*/.clang-tidy' | xargs -0 cat
} | sha256sum | cut -d' ' -f1)
export LINT_SHARED
# The project headers of each source, one line each: the source, then its headers.
export LINT_HEADERS=$LINT_CLEAN/headers
python3 - "$build" "$PWD" >"$LINT_HEADERS" <<'PYTHON'
import json, os, shlex, subprocess, sys
build, root = sys.argv[1], sys.argv[2] + "/"
headers = subprocess.run(["git", "ls-files", "*.h"], capture_output=True, text=True, check=True).stdout.split()
every = sorted(root + h for h in headers)
for entry in json.load(open(os.path.join(build, "compile_commands.json"))):
    source = entry["file"]
    if not source.startswith(root):
        continue
    found = []
    if os.path.exists(os.path.join(build, "build.ninja")):
        words = shlex.split(entry["command"])
        output = words[words.index("-o") + 1] if "-o" in words else ""
        deps = subprocess.run(["ninja", "-C", build, "-t", "deps", output], capture_output=True, text=True)
        lines = deps.stdout.splitlines()
        if lines and "(VALID)" in lines[0]:
            found = sorted(p.strip() for p in lines[1:] if p.strip().startswith(root) and p.strip().endswith(".h"))
    print(source[len(root):], *(found if found else every))
PYTHON
tidy() {
  local key headers
  headers=$(grep -m1 "^$1 " "$LINT_HEADERS" | cut -d' ' -f2-)
  # shellcheck disable=SC2086 # the headers are words on purpose
  key=$({ echo "$LINT_SHARED"; cat "$1" ${headers:-}; } | sha256sum | cut -d' ' -f1)
  [[ -f $LINT_CLEAN/$key ]] && return 0
  # shellcheck disable=SC2086 # the arguments are words on purpose
  clang-tidy -p "$LINT_BUILD" $LINT_TIDY_ARGS "$1" && touch "$LINT_CLEAN/$key"
}
export -f tidy
git ls-files -z 'util/*.cpp' 'checker/*.cpp' 'directory/*.cpp' 'cli/*.cpp' 'lsp/*.cpp' 'ui/*.cpp' 'app/*.cpp' ':!*bench*' |
  xargs -0 -n1 -P"$(nproc)" bash -c 'tidy "$1"' _ \
    2> >(grep -v 'warnings\? generated\.$' >&2)
