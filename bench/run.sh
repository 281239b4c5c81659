#!/usr/bin/env bash
# Measures corvanexml-check on large generated plug-in files, beside xmllint --noout on the
# same file.
#
#   bench/run.sh [SIZE_MB...]        (default: 1 10 50)
#
# For each size it writes a web application with corvanexml-bench-gen, then runs the
# checker (release build, text output to /dev/null) and xmllint three times each, taking
# the lowest elapsed time and the lowest peak RSS of the three. The checker runs in two
# cases, one row each:
#   tree        against the tree it selects by itself (out of the box the demo tree): most
#               names are known, a few messages
#   unrelated   with --schema against a schema that has none of the file's class and
#               attribute names: nearly every name becomes a message
#
# Targets, for files of 50 MB and more:
#   - checker time / xmllint time        at most 1.0
#   - checker peak memory / file size    at most 4.0
# Figures that miss a target are marked "over target"; smaller sizes show the trend only.
# The exit status is 0 whatever the figures are: this script measures, it does not judge.
set -euo pipefail

readonly kTargetSizeMb=50
readonly kMaxTimeRatio=1.0
readonly kMaxMemoryRatio=4.0
readonly kRuns=3
readonly kCases=(tree unrelated)

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bin=$root/build/release/bin
checker=$bin/corvanexml-check
generator=$bin/corvanexml-bench-gen

sizes=("$@")
[[ ${#sizes[@]} -gt 0 ]] || sizes=(1 10 50)
for size in "${sizes[@]}"; do
  if [[ ! $size =~ ^[0-9]+([.][0-9]+)?$ ]]; then
    echo "run.sh: size '$size' is not a number of megabytes" >&2
    exit 2
  fi
done
if ! command -v xmllint >/dev/null; then
  echo "run.sh: xmllint is not installed (apt-get install libxml2-utils)" >&2
  exit 2
fi

# Configure once, then let the build tool decide what is out of date.
if [[ ! -f $root/build/release/CMakeCache.txt ]]; then
  (cd "$root" && cmake --preset release) >&2
fi
if ! (cd "$root" && cmake --build --preset release) >&2; then
  [[ -x $checker && -x $generator ]] || { echo "run.sh: the release build failed" >&2; exit 2; }
  echo "run.sh: the release build failed; measuring the programs built before" >&2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
# The checker finds the web application by the "portal" folder in the file's path.
if [[ $work == *portal* ]]; then
  echo "run.sh: the temporary folder $work must not contain 'portal'" >&2
  exit 2
fi

# A schema of one class and one attribute whose names no generated file uses.
schema=$work/unrelated.schema
cat >"$schema" <<'SCHEMA'
attributetype ( 1.3.6.1.4.1.99999.1.1 NAME 'Shelf Number' )
objectclass ( 1.3.6.1.4.1.99999.2.1 NAME 'Bookshelf' STRUCTURAL MAY 'Shelf Number' )
SCHEMA

# case_args CASE : sets args to the checker's options for a case.
case_args() {
  args=()
  if [[ $1 == unrelated ]]; then args=(--schema "$schema"); fi
}

# time_once CMD... : prints "seconds kib" for one run; stdout of CMD goes to /dev/null.
time_once() {
  /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>"$work/stderr" || true
  # On a non-zero exit status time writes a note line first; the figures are on the last line.
  tail -n 1 "$work/time"
}

# lower A B : the smaller of two decimal numbers (A when B is empty).
lower() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a + 0 <= b + 0) ? a : b }'; }

# ratio A B : A / B to two places, "n/a" when B is zero.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b + 0 == 0) print "n/a"; else printf "%.2f\n", a / b }'; }

# mark FIGURE LIMIT SIZE : "over target" when SIZE is at the target size or above and FIGURE
# exceeds LIMIT (a figure of n/a cannot be judged).
mark() {
  awk -v f="$1" -v l="$2" -v s="$3" -v t="$kTargetSizeMb" \
    'BEGIN { if (s + 0 >= t + 0 && f != "n/a" && f + 0 > l + 0) print "over target" }'
}

rows=()
for size in "${sizes[@]}"; do
  echo "generating $size MB ..." >&2
  xml=$("$generator" "$work/webapp-$size" "$size")
  bytes=$(stat -c %s "$xml")

  check_s=() check_kib=() lint_s=""
  for ((run = 1; run <= kRuns; run++)); do
    for c in "${!kCases[@]}"; do
      case_args "${kCases[c]}"
      read -r s kib < <(time_once "$checker" "${args[@]}" "$xml")
      check_s[c]=$(lower "$s" "${check_s[c]:-}")
      check_kib[c]=$(lower "$kib" "${check_kib[c]:-}")
    done
    read -r s _ < <(time_once xmllint --noout "$xml")
    lint_s=$(lower "$s" "$lint_s")
  done

  for c in "${!kCases[@]}"; do
    case_args "${kCases[c]}"
    status=0
    "$checker" --quiet "${args[@]}" "$xml" >"$work/messages" 2>&1 || status=$?
    [[ $status -le 1 ]] || echo "run.sh: corvanexml-check ${args[*]} exited with $status on $xml" >&2
    messages=$(wc -l <"$work/messages")

    time_ratio=$(ratio "${check_s[c]}" "$lint_s")
    check_mib=$(awk -v k="${check_kib[c]}" 'BEGIN { printf "%.1f\n", k / 1024 }')
    memory_ratio=$(ratio "$((check_kib[c] * 1024))" "$bytes")
    rows+=("$(printf '%7s  %11s  %-9s  %9s  %9s  %6s %-11s  %11s  %6s %-11s  %8s' \
      "$size" "$bytes" "${kCases[c]}" "${check_s[c]}" "$lint_s" \
      "$time_ratio" "$(mark "$time_ratio" "$kMaxTimeRatio" "$size")" \
      "$check_mib" "$memory_ratio" "$(mark "$memory_ratio" "$kMaxMemoryRatio" "$size")" \
      "$messages")")
  done
  rm -rf "$work/webapp-$size"
done

printf '%7s  %11s  %-9s  %9s  %9s  %-18s  %11s  %-18s  %8s\n' \
  "size MB" "file bytes" "schema" "checker s" "xmllint s" "time ratio" "checker MiB" "memory/file" "messages"
printf '%s\n' "${rows[@]}"
echo "Targets at $kTargetSizeMb MB and more: time ratio <= $kMaxTimeRatio," \
  "memory/file <= $kMaxMemoryRatio (best of $kRuns runs)."
exit 0
