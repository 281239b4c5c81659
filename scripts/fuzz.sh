#!/usr/bin/env bash
# Builds the fuzz targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer, and
# runs each for a while on a corpus seeded from the project's own files.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]     (default: 10 seconds each, every target)
#
# Corpora grow in build/fuzz/corpus/<target>; a finding is written to build/fuzz/findings/
# and makes the script fail. Inputs up to 64 KB: several faults needed large inputs.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(check_fuzz cli_fuzz schema_fuzz connections_fuzz properties_fuzz settings_fuzz shell_fuzz export_fuzz ldap_answer_fuzz lsp_fuzz)

build=build/fuzz
if [ ! -f $build/CMakeCache.txt ]; then
  CXX=clang++ cmake -S . -B $build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_SANITIZE=ON \
    -DCORVANE_FUZZ=ON -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
fi
cmake --build $build --target "${targets[@]}"

# Copies files into a corpus under names of their own (fixtures share names).
copy_seeds() {
  local corpus=$1 n=0 file
  shift
  for file in "$@"; do cp "$file" "$corpus/seed-$((n++))-$(basename "$file")"; done
}

# Seeds: every file of a kind the target reads that the project has.
seed() {
  local target=$1 corpus=$build/corpus/$1
  mkdir -p "$corpus"
  case $target in
    check_fuzz | cli_fuzz) copy_seeds "$corpus" $(find tests/fixtures/checker examples -name '*.xml') ;;
    schema_fuzz) copy_seeds "$corpus" data/trees/demo.schema tests/fixtures/directory/* ;;
    connections_fuzz) printf '[LAB]\nschema = a.schema; b.ldif\nprimary = true\n[PROD]\nurl = ldaps://h:636\nbind-dn = cn=r\nstarttls = true\ntls-ca-file = ca.pem\ntimeout = 3\nname-extension = X-A-NAME\n' >"$corpus/seed.ini" ;;
    properties_fuzz) copy_seeds "$corpus" $(find tests/fixtures examples -name '*.properties') ;;
    settings_fuzz) printf '[Settings]\nMainForm.Top=201\nMainForm.Left=279\r\n; note\n[Other]\nx=1\n' >"$corpus/seed.ini" ;;
    shell_fuzz) printf 'https://example.com/a b' >"$corpus/url"; printf '/bin/echo  "a b" c\\ d' >"$corpus/cmd" ;;
    lsp_fuzz)
      printf 'Content-Length: 58\r\n\r\n{"jsonrpc":"2.0","id":1,"method":"initialize","params":{}}Content-Length: 125\r\n\r\n{"jsonrpc":"2.0","method":"textDocument/didOpen","params":{"textDocument":{"uri":"file:///a.xml","version":1,"text":"<a/>"}}}' >"$corpus/seed" ;;
    export_fuzz) printf 'a<b&c\x1fx\r\ny\x1ex\x1e\x1eq"\n' >"$corpus/table" ;;
    # A bind answered, the root entry naming the subschema entry, and that entry with one
    # attribute type and one class.
    ldap_answer_fuzz) printf '0\x0c\x02\x01\x01a\x07\x0a\x01\x00\x04\x00\x04\x000J\x02\x01\x02dE\x04\x000A0#\x04\x11subschemaSubentry1\x0e\x04\x0ccn=Subschema0\x1a\x04\x0enamingContexts1\x08\x04\x06o=fuzz0\x0c\x02\x01\x02e\x07\x0a\x01\x00\x04\x00\x04\x000\x84\x00\x00\x00\x8d\x02\x01\x03d\x84\x00\x00\x00\x84\x04\x0ccn=Subschema0t0.\x04\x0eattributeTypes1\x1c\x04\x1a( 1.1 NAME \x27cn\x27 SUP name )0B\x04\x0dobjectClasses11\x04/( 1.2 NAME \x27thing\x27 SUP top STRUCTURAL MUST cn )0\x0c\x02\x01\x03e\x07\x0a\x01\x00\x04\x00\x04\x00' >"$corpus/answer" ;;
  esac
}

rm -rf $build/findings && mkdir -p $build/findings
for target in "${targets[@]}"; do
  seed "$target"
  echo "fuzzing $target for ${seconds}s"
  $build/bin/$target -max_total_time="$seconds" -max_len=65536 -timeout=20 -rss_limit_mb=2560 \
    -artifact_prefix=$build/findings/$target- -print_final_stats=1 $build/corpus/$target 2>&1 |
    grep -aE '^(stat::number_of_executed_units|stat::average_exec_per_sec|#[0-9]+[[:space:]]+DONE|==[0-9]+==|SUMMARY|.*(Crash|Timeout|leak|deadly))' || true
  if ls $build/findings/$target-* >/dev/null 2>&1; then
    echo "$target: finding(s) in $build/findings" >&2
    exit 1
  fi
done
