#!/usr/bin/env bash
# Builds the Debian package from an already built tree, unpacks it into a temporary root and
# runs the installed checker there. It must find its data through the installed layout
# alone and report exactly what the build tree's checker reports.
#
#   package_test.sh BUILD_DIR SOURCE_DIR VERSION [CPACK]
set -euo pipefail
build=$1 source=$2 version=$3 cpack=${4:-cpack}
work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-package-XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# With Ninja, cpack installs the tree as it is, without building it: the package holds the
# programs ctest is testing.
if ! "$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  fail "cpack could not build the package"
fi
deb=$work/out/corvanexml_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $(basename "$deb"); cpack made: $(ls "$work/out")"

# The library packages come from dpkg-shlibdeps; the others are named by hand.
depends=$(dpkg-deb -f "$deb" Depends)
names=$(tr ',' '\n' <<<"$depends" | sed 's/^ *//; s/[ (].*//')
for need in libqt6widgets6 libqt6gui6 libxml2 'libldap-.*' xdg-utils fonts-dejavu-core ca-certificates; do
  grep -qx "$need" <<<"$names" || fail "Depends lacks $need: $depends"
done

root=$work/root
dpkg-deb -x "$deb" "$root"
for file in usr/bin/CorvaneXml usr/bin/corvanexml-check \
    usr/share/corvanexml/trees/demo.schema usr/share/corvanexml/CorvaneXml.txt usr/share/corvanexml/README.md \
    usr/share/applications/corvanexml.desktop usr/share/icons/hicolor/scalable/apps/corvanexml.svg \
    usr/share/man/man1/corvanexml-check.1.gz usr/share/bash-completion/completions/corvanexml-check; do
  [ -f "$root/$file" ] || fail "the package lacks /$file"
done
# Only the programs in bin/: their data must be found under share/, not beside them.
[ "$(ls "$root/usr/bin" | tr '\n' ' ')" = "CorvaneXml corvanexml-check " ] ||
  fail "bin/ holds more than the programs: $(ls "$root/usr/bin")"

# The user's own connections file would choose another tree.
export XDG_CONFIG_HOME=$work/config HOME=$work/home
mkdir -p "$XDG_CONFIG_HOME" "$HOME"
installed=$root/usr/bin/corvanexml-check
"$installed" --help >/dev/null || fail "installed checker: --help failed"
shown=$("$installed" --version) || fail "installed checker: --version failed"
[[ $shown == *" $version"* ]] || fail "installed checker's version: $shown"
trees=$("$installed" --list-trees) || fail "installed checker: --list-trees failed"
[ "$trees" = CORVANE_DEMO ] || fail "installed checker lists trees: $trees"

# The same arguments from the same folder, so even the paths in the output match.
cd "$source"
status=0
"$installed" examples/webapp >"$work/installed.out" 2>"$work/installed.err" || status=$?
[ "$status" -eq 1 ] || { cat "$work/installed.err" >&2; fail "installed checker on examples/webapp: status $status"; }
status=0
"$build/bin/corvanexml-check" examples/webapp >"$work/built.out" 2>"$work/built.err" || status=$?
[ "$status" -eq 1 ] || fail "build tree's checker on examples/webapp: status $status"
grep -q "Msg 0" "$work/built.out" || fail "no findings in examples/webapp"
diff -u "$work/built.out" "$work/installed.out" >&2 || fail "installed and built checkers differ"
diff -u "$work/built.err" "$work/installed.err" >&2 || fail "installed and built checkers differ on standard error"

# Bash completion offers the formats and, through the installed checker, the trees.
completion=$root/usr/share/bash-completion/completions/corvanexml-check
complete_words() {
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
           _corvanexml_check "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
           printf "%s " "${COMPREPLY[@]}"' _ "$completion" "$@"
}
[ "$(complete_words "$installed" --format '')" = "text list json sarif github " ] ||
  fail "completion of --format: $(complete_words "$installed" --format '')"
[ "$(complete_words "$installed" --tree=C)" = "--tree=CORVANE_DEMO " ] ||
  fail "completion of --tree: $(complete_words "$installed" --tree=C)"

if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/usr/share/applications/corvanexml.desktop" >&2 || fail "desktop entry"
else
  echo "desktop-file-validate not installed: desktop entry not validated" >&2
fi
if command -v groff >/dev/null; then
  warnings=$(zcat "$root/usr/share/man/man1/corvanexml-check.1.gz" | groff -man -Tutf8 -ww -z 2>&1)
  [ -z "$warnings" ] || fail "man page: $warnings"
fi
echo "package $(basename "$deb"): $(du -k "$deb" | cut -f1) KiB, installed tree checked"
