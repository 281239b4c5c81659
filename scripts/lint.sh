#!/usr/bin/env bash
# Checks the C++ sources: every file is laid out as .clang-format says (`clang-format -i FILE`
# lays a file out), and the programs' own sources pass the checks .clang-tidy names. Fails
# naming what is wrong. clang-tidy reads the compile commands of a configured build:
#
#   scripts/lint.sh [BUILD_FOLDER]             build/dev-asan by default, configured here
#                                              when it is not
#   scripts/lint.sh --analyze [BUILD_FOLDER]   the static analyzer's path checks instead
#
# The sources that share their compile flags are checked together, as one translation unit
# that includes them all (written to BUILD_FOLDER/lint-units): the headers of the standard
# library, Qt and JSON, most of what a source makes clang-tidy parse and walk, are then read
# once per group instead of once per file. That took a cold lint on two cores from two
# minutes to half a minute. A group that does not compile as one (two of its files define
# the same name) is checked file by file instead. The static analyzer checks a function only
# in the file it is compiled from, so it cannot run on a group: --analyze runs it file by
# file, in its shallow mode (at most 75,000 states per function and little inlining across
# calls), which takes about a minute on two cores.
set -euo pipefail
cd "$(dirname "$0")/.."
analyze=no
if [[ ${1:-} == --analyze ]]; then
  analyze=yes
  shift
fi
build=${1:-build/dev-asan}

git ls-files -z '*.cpp' '*.h' ':!tests/fixtures' | xargs -0 clang-format --dry-run --Werror

if [[ ! -f "$build/compile_commands.json" ]]; then
  cmake --preset dev-asan >/dev/null
  build=build/dev-asan
fi
# Tests, benchmarks and fuzz targets are left out: the checks guard what users run.
export LINT_MODE=groups
if [[ $analyze == yes ]]; then
  LINT_MODE=files
  # The analyzer as .clang-tidy sets it up, the other families of checks left to the groups.
  export LINT_TIDY_ARGS="--quiet --checks=-bugprone-*,-cert-*,-concurrency-*,-performance-*
    --extra-arg=-Xclang --extra-arg=-analyzer-config --extra-arg=-Xclang --extra-arg=mode=shallow"
else
  # The files a group includes are reported on as its headers are.
  export LINT_TIDY_ARGS="--quiet --checks=-clang-analyzer-*
    --header-filter=/(util|checker|directory|cli|lsp|ui|app)/[^/]+\.(h|cpp)$"
fi
# A group or file found clean is remembered in the build folder, by a digest of all that
# decides the result: the tool and its settings, the compile commands, the project's headers
# and the sources themselves. A later lint checks only what changed.
export LINT_BUILD=$build LINT_CLEAN=$build/lint-clean LINT_UNITS=$PWD/$build/lint-units
mkdir -p "$LINT_CLEAN"
LINT_SHARED=$({
  clang-tidy --version
  echo "$LINT_MODE $LINT_TIDY_ARGS"
  cat "$build/compile_commands.json"
  git ls-files -z '.clang-tidy' '*/.clang-tidy' '*.h' | xargs -0 cat
} | sha256sum | cut -d' ' -f1)
export LINT_SHARED

# One line for each group: its translation unit, then its sources, parted by tabs.
python3 - "$build" "$PWD" "$LINT_UNITS" >"$LINT_UNITS.list" <<'PYTHON'
import collections, json, os, shlex, subprocess, sys
build, root, units = sys.argv[1], sys.argv[2] + "/", sys.argv[3]
patterns = ["util/*.cpp", "checker/*.cpp", "directory/*.cpp", "cli/*.cpp", "lsp/*.cpp", "ui/*.cpp", "app/*.cpp"]
listed = subprocess.run(["git", "ls-files", *patterns, ":!*bench*"], capture_output=True, text=True, check=True)
wanted = set(listed.stdout.split())
groups = collections.defaultdict(list)
for entry in json.load(open(os.path.join(build, "compile_commands.json"))):
    source = entry["file"]
    if not source.startswith(root) or source[len(root):] not in wanted:
        continue
    flags = [w for w in shlex.split(entry["command"]) if w != source]
    if "-o" in flags:
        del flags[flags.index("-o"):flags.index("-o") + 2]
    groups[(entry["directory"], tuple(flags))].append(entry)
os.makedirs(units, exist_ok=True)
commands = []
for n, members in enumerate(groups.values()):
    unit = os.path.join(units, "unit%02d.cpp" % n)
    with open(unit, "w") as out:
        for m in members:
            out.write('#include "%s"  // NOLINT(bugprone-suspicious-include): a group of sources\n' % m["file"])
    first = members[0]
    commands.append({"directory": first["directory"], "file": unit,
                     "command": first["command"].replace(first["file"], unit)})
    print("\t".join([unit] + [m["file"][len(root):] for m in members]))
json.dump(commands, open(os.path.join(units, "compile_commands.json"), "w"))
PYTHON

# tidy DATABASE SOURCE: clang-tidy on one translation unit.
tidy() {
  local -
  set -f  # the arguments hold patterns, for clang-tidy and not for the shell
  # shellcheck disable=SC2086 # the arguments are words on purpose
  clang-tidy -p "$1" $LINT_TIDY_ARGS "$2" 2> >(grep -v 'warnings\? generated\.$' >&2)
}
# lint "UNIT<tab>SOURCE...": a group as one translation unit, or its sources one by one where
# it does not compile as one and with --analyze.
lint() {
  local words key found failed=0 source
  IFS=$'\t' read -r -a words <<<"$1"
  key=$({ echo "$LINT_SHARED"; cat "${words[@]:1}"; } | sha256sum | cut -d' ' -f1)
  [[ -f $LINT_CLEAN/$key ]] && return 0
  if [[ $LINT_MODE == groups ]]; then
    if found=$(tidy "$LINT_UNITS" "${words[0]}" 2>/dev/null); then
      touch "$LINT_CLEAN/$key"
      return 0
    fi
    if [[ $found != *clang-diagnostic-error* ]]; then
      printf '%s\n' "$found"
      return 1
    fi
  fi
  for source in "${words[@]:1}"; do tidy "$LINT_BUILD" "$source" || failed=1; done
  [[ $failed == 0 ]] && touch "$LINT_CLEAN/$key"
  return "$failed"
}
export -f tidy lint
# shellcheck disable=SC2016 # expanded by the shell that xargs starts
tr '\n' '\0' <"$LINT_UNITS.list" | xargs -0 -n1 -P"$(nproc)" bash -c 'lint "$1"' _
