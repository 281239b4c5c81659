#!/usr/bin/env bash
# The hook definition as pre-commit users meet it: their repository names a clone of this
# one in its .pre-commit-config.yaml, and pre-commit runs the checker on the staged XML
# files, and on those alone. Skipped (77) without pre-commit or git.
#
#   pre_commit_test.sh BIN_DIR SOURCE_DIR
set -euo pipefail
bin=$(cd "$1" && pwd) source=$2
if ! command -v pre-commit >/dev/null || ! command -v git >/dev/null; then
  echo "pre-commit or git is not installed"
  exit 77
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-pre-commit-XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
# Nothing of the user's own configuration counts; the checker offers its demo tree.
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" PRE_COMMIT_HOME="$work/cache"
export GIT_CONFIG_NOSYSTEM=1 PATH="$bin:$PATH"
mkdir -p "$HOME"
git config --global user.name "Corvane test"
git config --global user.email "test@example.invalid"
git config --global init.defaultBranch main

# The clone: the hook definition at a commit, as pre-commit fetches it.
hooks="$work/hooks"
mkdir "$hooks"
cp "$source/.pre-commit-hooks.yaml" "$hooks/"
git -C "$hooks" init -q
git -C "$hooks" add .pre-commit-hooks.yaml
git -C "$hooks" commit -qm hooks
rev=$(git -C "$hooks" rev-parse HEAD)

# The user's repository, with the three lines the README shows.
plugin="$work/plugin"
mkdir -p "$plugin/webapp/portal/modules/M"
cd "$plugin"
git init -q
cat >.pre-commit-config.yaml <<YAML
repos:
  - repo: $hooks
    rev: $rev
    hooks: [{id: corvanexml-check}]
YAML
printf '<plugin><task><id>T</id><id>T</id></task></plugin>\n' >webapp/portal/modules/M/M.xml
printf '<not xml\n' >notes.txt
git add .

# pre-commit runs nothing over the network for a system hook.
if out=$(pre-commit run 2>&1); then fail "a duplicate id passed the hook: $out"; fi
grep -q "webapp/portal/modules/M/M.xml:1:25: Msg 008: Duplicate ID: T" <<<"$out" || fail "no finding: $out"
! grep -q "notes.txt" <<<"$out" || fail "a file that is no XML was checked: $out"

printf '<plugin><task><id>T</id><id>U</id></task></plugin>\n' >webapp/portal/modules/M/M.xml
git add .
out=$(pre-commit run 2>&1) || fail "the corrected file failed the hook: $out"
echo "pre-commit: ok"
