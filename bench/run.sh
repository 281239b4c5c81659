#!/usr/bin/env bash
# Measures corvanexml-check beside the parser's own floor (corvanexml-sax-floor: libxml2's
# SAX2 parser with callbacks that do nothing) and beside xmllint --noout, all in one run.
#
#   bench/run.sh [LARGE_MB [WINDOW_MB]]        (default: 50 10; the targets are set for these)
#   bench/run.sh --lsp-only                     (rows 7 to 9 alone, the language server's)
#
# It builds the release preset, writes web applications with corvanexml-bench-gen and prints
# one row per figure, each with what it is measured against, the ratio and its target:
#   1  the LARGE_MB file against the tree the checker selects by itself (out of the box the
#      demo tree: most names are known, a few messages), text output to /dev/null:
#        checker time / floor time                          at most 1.5
#        checker peak memory / file size                    at most 2.5
#   2  the same file with --schema and a schema that has none of the file's class and
#      attribute names, so that nearly every name becomes a message:
#        checker time / floor time                          at most 2.5
#        checker peak memory / file size                    at most 3.5
#   3  case 2 against xmllint --noout on the same file:    at most 0.5
#   4  a plug-in file of about 3 KB with a few findings, in a small web application; each
#      time is that of 200 runs one after another, to measure start-up and not noise:
#        checker time / floor time                          at most 1.5
#   5  a folder of 1,000 such files, against xmllint --noout given the same files:
#        corvanexml-check --jobs 1 FOLDER                    at most 0.8
#        corvanexml-check --jobs 2 FOLDER                    at most 0.5
#      (shown as "n/a (no --jobs)" by a checker without that option)
#   6  the window on the WINDOW_MB file: corvanexml-window-bench's time until the window is
#      idle again / corvanexml-check's time on the same file: at most 1.5
#   7  the language server (corvanexml-lsp-bench drives corvanexml-check --lsp over pipes as
#      an editor does) with a generated plug-in file of 0.1, 1 and 10 MB open: the time from
#      writing a didChange that alters one class name to reading the diagnostics published
#      for that version, best of 20 edits (7 for 10 MB): at most 30 ms, 100 ms and 1 s
#   8  completion in an object-type-name value of the 1 MB file, with every schema of
#      Debian's slapd (/etc/ldap/schema/*.schema) as the tree, best of 30: at most 20 ms
#      (n/a when slapd is not installed)
#   9  bursts of 1,000 such edits to the 1 MB file (5 rounds) and to the 10 MB file (2),
#      written as fast as the server takes them: the time from the last edit to the
#      diagnostics of its version (best) at most 1 s for 1 MB; diagnostics published for a
#      version older than one published before them: none; the memory the server takes for
#      the file (its peak resident memory, VmHWM, over what it held with its tree read and a
#      small file checked) / the file's size: at most 4
#   Rows 7 to 9 show the median beside the best; their ratio is the best time over the target.
# Rows 1 to 5: each time is the best of 7 runs, row 6 of 5; memory is the peak resident set that
# /usr/bin/time reports.
# Figures that miss their target are marked "over target". The exit status is 0 whatever
# the figures are: this script measures, it does not judge.
set -euo pipefail

readonly kRuns=7
readonly kSmallRepeats=200
readonly kFolderFiles=1000
readonly kChangeRuns=20 kLargeChangeRuns=7 kCompletionRuns=30 kBurstChanges=1000 kBurstRounds=5 kLargeBurstRounds=2

only_lsp=no
if [[ ${1:-} == --lsp-only ]]; then
  only_lsp=yes
  shift
fi

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bin=$root/build/release/bin
checker=$bin/corvanexml-check
generator=$bin/corvanexml-bench-gen
floor=$bin/corvanexml-sax-floor
window_bench=$bin/corvanexml-window-bench
lsp_program=$bin/corvanexml-lsp-bench

large_mb=${1:-50}
window_mb=${2:-10}
for size in "$large_mb" "$window_mb"; do
  if [[ ! $size =~ ^[0-9]+([.][0-9]+)?$ ]]; then
    echo "run.sh: size '$size' is not a number of megabytes" >&2
    exit 2
  fi
done
for tool in xmllint /usr/bin/time; do
  if ! command -v "$tool" >/dev/null; then
    echo "run.sh: $tool is not installed (apt-get install libxml2-utils time)" >&2
    exit 2
  fi
done

# Configure once, then let the build tool decide what is out of date.
if [[ ! -f $root/build/release/CMakeCache.txt ]]; then
  (cd "$root" && cmake --preset release) >&2
fi
if ! (cd "$root" && cmake --build --preset release) >&2; then
  [[ -x $checker && -x $generator && -x $floor ]] || { echo "run.sh: the release build failed" >&2; exit 2; }
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

# measure CMD... : prints "seconds kib" for one run: wall time and peak RSS. Output goes to
# /dev/null; a non-zero exit status (findings) is no failure here.
measure() {
  local start=$EPOCHREALTIME
  /usr/bin/time -f %M -o "$work/rss" "$@" >/dev/null 2>"$work/stderr" || true
  local end=$EPOCHREALTIME
  # On a non-zero exit status time writes a note line first; the figure is on the last line.
  echo "$(seconds_between "$start" "$end") $(tail -n 1 "$work/rss")"
}

# repeat N CMD... : prints the wall time of N runs of CMD, one after another.
repeat() {
  local n=$1 i start
  shift
  start=$EPOCHREALTIME
  for ((i = 0; i < n; i++)); do "$@" >/dev/null 2>&1 || true; done
  seconds_between "$start" "$EPOCHREALTIME"
}

seconds_between() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f\n", b - a }'; }

# lower A B : the smaller of two decimal numbers (A when B is empty).
lower() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a + 0 <= b + 0) ? a : b }'; }

# ratio A B : A / B to two places, "n/a" when B is zero.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b + 0 == 0) print "n/a"; else printf "%.2f\n", a / b }'; }

# mark RATIO LIMIT : "over target" when RATIO exceeds LIMIT (a ratio of n/a cannot be judged).
mark() { awk -v f="$1" -v l="$2" 'BEGIN { if (f != "n/a" && f + 0 > l + 0) print "over target" }'; }

# mib KIB : kibibytes as mebibytes to one place.
mib() { awk -v k="$1" 'BEGIN { printf "%.1f MiB\n", k / 1024 }'; }

rows=()
# row NUMBER WHAT MEASURED AGAINST RATIO LIMIT : one line of the table.
row() {
  rows+=("$(printf '%-2s %-52s %15s  %-24s %6s  <= %-4s %s' "$1" "$2" "$3" "$4" "$5" "$6" "$(mark "$5" "$6")")")
}

# generate DIR SIZE_MB : writes a web application and prints the path of its plug-in file.
generate() {
  echo "generating $2 MB ..." >&2
  "$generator" "$1" "$2"
}

# message_count ARGS... : the number of lines the checker writes for ARGS with --quiet.
message_count() {
  local status=0
  "$checker" --quiet "$@" >"$work/messages" 2>&1 || status=$?
  [[ $status -le 1 ]] || echo "run.sh: corvanexml-check $* exited with $status" >&2
  wc -l <"$work/messages"
}

# Rows 1 to 3: the large file.
large_rows() {
  local xml bytes run s kib
  xml=$(generate "$work/large" "$large_mb")
  bytes=$(stat -c %s "$xml")
  local tree_s="" tree_kib="" other_s="" other_kib="" floor_s="" lint_s=""
  for ((run = 1; run <= kRuns; run++)); do
    read -r s kib < <(measure "$checker" "$xml")
    tree_s=$(lower "$s" "$tree_s") tree_kib=$(lower "$kib" "$tree_kib")
    read -r s kib < <(measure "$checker" --schema "$schema" "$xml")
    other_s=$(lower "$s" "$other_s") other_kib=$(lower "$kib" "$other_kib")
    read -r s _ < <(measure "$floor" "$xml")
    floor_s=$(lower "$s" "$floor_s")
    read -r s _ < <(measure xmllint --noout "$xml")
    lint_s=$(lower "$s" "$lint_s")
  done
  local file_mib
  file_mib=$(mib "$((bytes / 1024))")
  row 1 "$large_mb MB, demo tree ($(message_count "$xml") messages): time" "$tree_s s" "floor $floor_s s" \
    "$(ratio "$tree_s" "$floor_s")" 1.5
  row 1 "$large_mb MB, demo tree: peak memory" "$(mib "$tree_kib")" "file $file_mib" \
    "$(ratio "$((tree_kib * 1024))" "$bytes")" 2.5
  row 2 "$large_mb MB, unrelated schema ($(message_count --schema "$schema" "$xml") messages): time" "$other_s s" \
    "floor $floor_s s" "$(ratio "$other_s" "$floor_s")" 2.5
  row 2 "$large_mb MB, unrelated schema: peak memory" "$(mib "$other_kib")" "file $file_mib" \
    "$(ratio "$((other_kib * 1024))" "$bytes")" 3.5
  row 3 "$large_mb MB, unrelated schema: time" "$other_s s" "xmllint $lint_s s" "$(ratio "$other_s" "$lint_s")" 0.5
  rm -rf "$work/large"
}

# Writes the small plug-in file: two roles, two tasks and a page, about 3 KB, whose
# mistakes give six findings in the small generated web application (an unknown role, an
# unknown and an auxiliary attribute, a missing key, bundle and JSP page).
write_small_plugin() {
  cat >"$1" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<!-- A small plug-in: two roles, a task and a page, with a few mistakes -->
<plugin>
  <role>
    <id>Users.Role.User.1</id>
    <resource-properties-file>com.corvane.users.Resources</resource-properties-file>
    <display-name-key>Create_User</display-name-key>
    <description>May create user objects &amp; their rights</description>
    <scope>
      <object-type-name>Organizational Unit</object-type-name>
    </scope>
  </role>

  <role>
    <id>Users.Role.Group.2</id>
    <resource-properties-file>com.corvane.users.Resources</resource-properties-file>
    <display-name-key>Create_Group</display-name-key>
    <description>May create group objects &amp; their rights</description>
    <role-assignment>Users.Role.User.1</role-assignment>
  </role>

  <task>
    <id>Users.Task.User.3</id>
    <resource-properties-file>com.corvane.users.Resources</resource-properties-file>
    <display-name-key>Create_User</display-name-key>
    <role-assignment>Users.Role.User.1</role-assignment>
    <role-assignment>Role.Retired.4</role-assignment>
    <merge-template>Users.createUser</merge-template>
    <url-param>
      <param-key>eDirSearch</param-key>
      <param-value>User</param-value>
    </url-param>
    <object-type-name>User</object-type-name>
    <attributes>
      <attribute-name>CN</attribute-name>
      <attribute-name>Surname</attribute-name>
      <attribute-name>Favourite Colour</attribute-name>
      <attribute-name>Description</attribute-name>
    </attributes>
  </task>

  <page>
    <id>Users.Page.Group.5</id>
    <resource-properties-file>com.corvane.users.Resources</resource-properties-file>
    <display-name-key>Retired Group Title</display-name-key>
    <role-assignment>Users.Role.Group.2</role-assignment>
    <merge-template>Users.archiveGroup</merge-template>
    <object-type-name>Group</object-type-name>
    <chapter>
      <id>chapter1</id>
      <display-name-key>Create_Group</display-name-key>
      <attribute-name>CN</attribute-name>
      <attribute-name>Member</attribute-name>
      <attribute-name>Owner</attribute-name>
    </chapter>
    <layout>
      <section>
        <title-key>Create_Group</title-key>
        <column>
          <attribute-group>
            <attribute-name>Description</attribute-name>
            <attribute-name>See Also</attribute-name>
          </attribute-group>
        </column>
      </section>
    </layout>
  </page>

  <task>
    <id>Users.Task.Group.6</id>
    <resource-properties-file>com.corvane.legacy.Resources</resource-properties-file>
    <display-name-key>Create_Group</display-name-key>
    <merge-template>Users.createGroup</merge-template>
    <object-type-name>Dynamic Group</object-type-name>
    <attributes>
      <attribute-name>Member Query</attribute-name>
      <attribute-name>Login Script</attribute-name>
    </attributes>
  </task>
</plugin>
XML
}

# Rows 4 and 5: small files in a small web application.
small_rows() {
  generate "$work/small" 0.003 >/dev/null
  local modules=$work/small/portal/modules
  local small=$modules/Users/small.xml folder=$modules/Users/many
  write_small_plugin "$small"
  local text n
  text=$(<"$small")
  mkdir "$folder"
  for ((n = 1; n <= kFolderFiles; n++)); do
    printf '%s\n' "${text/A small plug-in/Small plug-in $n}" >"$(printf '%s/plugin-%04d.xml' "$folder" "$n")"
  done
  local files=("$folder"/*.xml)

  local run s check_s="" floor_s=""
  for ((run = 1; run <= kRuns; run++)); do
    check_s=$(lower "$(repeat "$kSmallRepeats" "$checker" "$small")" "$check_s")
    floor_s=$(lower "$(repeat "$kSmallRepeats" "$floor" "$small")" "$floor_s")
  done
  local per_check per_floor
  per_check=$(awk -v s="$check_s" -v n="$kSmallRepeats" 'BEGIN { printf "%.2f ms", 1000 * s / n }')
  per_floor=$(awk -v s="$floor_s" -v n="$kSmallRepeats" 'BEGIN { printf "%.2f ms", 1000 * s / n }')
  row 4 "$(stat -c %s "$small") bytes ($(message_count "$small") messages), per run of $kSmallRepeats" \
    "$per_check" "floor $per_floor" "$(ratio "$check_s" "$floor_s")" 1.5

  local lint_s="" one_s="" two_s="" jobs=yes status=0
  "$checker" --jobs 1 "$small" >/dev/null 2>&1 || status=$?
  [[ $status -le 1 ]] || jobs=no
  for ((run = 1; run <= kRuns; run++)); do
    read -r s _ < <(measure xmllint --noout "${files[@]}")
    lint_s=$(lower "$s" "$lint_s")
    if [[ $jobs == yes ]]; then
      read -r s _ < <(measure "$checker" --jobs 1 "$folder")
      one_s=$(lower "$s" "$one_s")
      read -r s _ < <(measure "$checker" --jobs 2 "$folder")
      two_s=$(lower "$s" "$two_s")
    fi
  done
  local what="folder of $kFolderFiles such files"
  if [[ $jobs == yes ]]; then
    row 5 "$what ($(message_count --jobs 1 "$folder") messages), --jobs 1" "$one_s s" "xmllint $lint_s s" \
      "$(ratio "$one_s" "$lint_s")" 0.8
    row 5 "$what, --jobs 2" "$two_s s" "xmllint $lint_s s" "$(ratio "$two_s" "$lint_s")" 0.5
  else
    row 5 "$what, --jobs 1" "n/a (no --jobs)" "xmllint $lint_s s" n/a 0.8
    row 5 "$what, --jobs 2" "n/a (no --jobs)" "xmllint $lint_s s" n/a 0.5
  fi
  rm -rf "$work/small"
}

# Row 6: the window, which times itself and the checker on the same file.
window_row() {
  local xml
  xml=$(generate "$work/window" "$window_mb")
  if [[ ! -x $window_bench ]] ||
    ! QT_QPA_PLATFORM=offscreen "$window_bench" "$xml" >"$work/window.txt" 2>"$work/stderr"; then
    echo "run.sh: corvanexml-window-bench failed: $(tail -n 3 "$work/stderr" 2>/dev/null)" >&2
    row 6 "$window_mb MB in the window" "n/a" "" n/a 1.5
    return
  fi
  local window_s cli_s
  window_s=$(awk '/^window check until idle:/ { print $5 }' "$work/window.txt")
  cli_s=$(awk '/^corvanexml-check:/ { print $2 }' "$work/window.txt")
  row 6 "$window_mb MB in the window, until idle" "$window_s s" "command line $cli_s s" \
    "$(ratio "$window_s" "$cli_s")" 1.5
  rm -rf "$work/window"
}

# lsp_figure LINE KEY : the value of KEY in a line of corvanexml-lsp-bench's "KEY=value" words.
lsp_figure() {
  awk -v k="$2" '{ for (i = 1; i <= NF; i++) if (index($i, k "=") == 1) print substr($i, length(k) + 2) }' <<<"$1"
}

# lsp_bench MODE ARGS... : the line corvanexml-lsp-bench prints; empty (and said) when it fails.
lsp_bench() {
  if [[ ! -x $lsp_program ]]; then
    echo "run.sh: $lsp_program was not built" >&2
    return 0
  fi
  "$lsp_program" "$@" 2>"$work/stderr" ||
    echo "run.sh: corvanexml-lsp-bench $1 failed: $(tail -n 2 "$work/stderr")" >&2
}

# lsp_time_row NUMBER WHAT LINE TARGET_MS : a row of a time against its target, from a line.
lsp_time_row() {
  local best median
  best=$(lsp_figure "$3" best_ms) median=$(lsp_figure "$3" median_ms)
  if [[ -z $best ]]; then
    row "$1" "$2" "n/a" "target $4 ms" n/a 1.0
    return
  fi
  row "$1" "$2 (median $(awk -v m="$median" 'BEGIN { printf (m < 100 ? "%.1f" : "%.0f"), m }') ms)" "$best ms" "target $4 ms" \
    "$(ratio "$best" "$4")" 1.0
}

# The schema files of Debian's slapd, those the others build on first.
ldap_schemas() {
  local name file
  local -a names=(core cosine inetorgperson nis)
  for file in /etc/ldap/schema/*.schema; do
    [[ -f $file ]] || continue
    name=$(basename "$file" .schema)
    [[ " ${names[*]} " == *" $name "* ]] || names+=("$name")
  done
  for name in "${names[@]}"; do
    [[ -f /etc/ldap/schema/$name.schema ]] && echo "/etc/ldap/schema/$name.schema"
  done
}

# burst_rows FILE LABEL ROUNDS : the rows 9 of bursts of edits to FILE.
burst_rows() {
  local line stale publications start peak bytes
  echo "language server: $3 bursts of $kBurstChanges edits of the $2 file ..." >&2
  line=$(lsp_bench burst "$1" "$kBurstChanges" "$3")
  lsp_time_row 9 "$2, $kBurstChanges edits, last to diagnostics" "$line" 1000
  stale=$(lsp_figure "$line" stale) publications=$(lsp_figure "$line" publications)
  start=$(lsp_figure "$line" start_kib) peak=$(lsp_figure "$line" peak_kib) bytes=$(lsp_figure "$line" bytes)
  if [[ -z $stale ]]; then
    row 9 "$2, $kBurstChanges edits, diagnostics out of order" "n/a" "" n/a 0
    row 9 "$2, $kBurstChanges edits, memory for the file" "n/a" "" n/a 4
    return
  fi
  row 9 "$2, $kBurstChanges edits, diagnostics out of order" "$stale" "$publications published" "$stale" 0
  row 9 "$2, $kBurstChanges edits, memory for the file" "$(mib "$((peak - start))")" \
    "file $(mib "$((bytes / 1024))"), peak $(mib "$peak")" "$(ratio "$(((peak - start) * 1024))" "$bytes")" 4
}

# Rows 7 to 9: the language server.
lsp_rows() {
  local size label target runs xml line one_mb="" ten_mb=""
  for size in 0.1 1 10; do
    case $size in
      0.1) label="100 KB" target=30 runs=$kChangeRuns ;;
      1) label="1 MB" target=100 runs=$kChangeRuns ;;
      10) label="10 MB" target=1000 runs=$kLargeChangeRuns ;;
    esac
    xml=$(generate "$work/lsp-$size" "$size")
    [[ $size == 1 ]] && one_mb=$xml
    [[ $size == 10 ]] && ten_mb=$xml
    echo "language server: $runs edits of the $label file ..." >&2
    line=$(lsp_bench change "$xml" "$runs")
    lsp_time_row 7 "$label, edit to its diagnostics" "$line" "$target"
  done

  local -a schema_args=()
  local file
  while read -r file; do schema_args+=(--schema "$file"); done < <(ldap_schemas)
  if ((${#schema_args[@]} == 0)); then
    echo "run.sh: slapd is not installed (no /etc/ldap/schema/*.schema); row 8 is skipped" >&2
    row 8 "1 MB, completion, slapd's schemas" "n/a (no slapd)" "target 20 ms" n/a 1.0
  else
    echo "language server: $kCompletionRuns completions against $((${#schema_args[@]} / 2)) schema files ..." >&2
    line=$(lsp_bench completion "$one_mb" "$kCompletionRuns" "${schema_args[@]}")
    lsp_time_row 8 "1 MB, completion of $(lsp_figure "$line" items) classes" "$line" 20
  fi

  burst_rows "$one_mb" "1 MB" "$kBurstRounds"
  burst_rows "$ten_mb" "10 MB" "$kLargeBurstRounds"
  rm -rf "$work"/lsp-*
}

if [[ $only_lsp == no ]]; then
  large_rows
  small_rows
  window_row
fi
lsp_rows

printf '%-2s %-52s %15s  %-24s %6s  %-7s\n' "" "case" "measured" "against" "ratio" "target"
printf '%s\n' "${rows[@]}"
if [[ $only_lsp == no ]]; then
  echo "Times are the best of $kRuns runs (the window's of 5); the floor is libxml2's SAX2 parser with empty callbacks."
fi
echo "Rows 7 to 9: the best of $kChangeRuns edits ($kLargeChangeRuns for 10 MB), $kCompletionRuns completions or" \
  "$kBurstRounds bursts ($kLargeBurstRounds for 10 MB), the median in brackets; the ratio is best / target."
echo "Out of order: diagnostics for a version older than one published before them."
exit 0
