# shellcheck shell=bash disable=SC2154  # $bin and $source are set by the script that sources it
# What the editor tests share: a web application of their own, the README's quotation of
# a configuration, a bounded run of the editor and its report. Sourced; expects $bin and
# $source.

skip() {
  echo "SKIP: $*"
  exit 77
}
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The configuration file must appear in the README as it is, as an indented code block,
# so that what the README shows is what the test runs.
readme_quotes() {
  python3 - "$source/README.md" "$1" <<'PY' || fail "README.md does not quote ${1#"$source"/} as it is"
import sys
readme = open(sys.argv[1], encoding="utf-8").read()
lines = open(sys.argv[2], encoding="utf-8").read().splitlines(True)
sys.exit(0 if "".join("    " + l if l.strip() else "\n" for l in lines) in readme else 1)
PY
}

# The fixture web application in a folder of its own, with the plug-in file the editors
# open; nothing of the user's configuration counts, so the demo tree is checked against.
make_webapp() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-editor-XXXXXX")
  trap 'rm -rf "$work"' EXIT
  export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
  export XDG_STATE_HOME="$work/home/.local/state" XDG_CACHE_HOME="$work/home/.cache"
  export PATH="$bin:$PATH"
  mkdir -p "$HOME"
  cp -r "$source/tests/fixtures/checker/resources/app" "$work/app"
  rm "$work/app/portal/modules/Demo/input.xml"
  plugin="$work/app/portal/modules/Demo/Editor.xml"
  cp "$source/tests/fixtures/editors/Editor.xml" "$plugin"
}

# Runs the editor for at most two minutes; its status is kept in $status.
run_bounded() {
  status=0
  timeout -k 5 120 "$@" </dev/null >"$work/editor.log" 2>&1 || status=$?
}

# Prints what the editor found and ends with its verdict.
report() {
  [ -f "$work/results" ] && cat "$work/results"
  case $status in
    0) grep -q '^FAIL' "$work/results" && fail "$1: a check failed"
       grep -q '^ok' "$work/results" || fail "$1: nothing was checked"
       echo "$1: ok" ;;
    77) grep -q '^FAIL' "$work/results" && fail "$1: a check failed"
        exit 77 ;;
    124|137) cat "$work/editor.log"; fail "$1: the editor did not finish within two minutes" ;;
    *) cat "$work/editor.log"; fail "$1: the editor ended with status $status" ;;
  esac
}
