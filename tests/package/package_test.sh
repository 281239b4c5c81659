#!/usr/bin/env bash
# Builds the Debian packages from an already built tree, unpacks them into a temporary root
# and runs the installed checker there. The checker's package must work on its own: the
# checker finds its data through the installed layout alone and reports exactly what the
# build tree's checker reports. The window's package adds the window to it.
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

# With Ninja, cpack installs the tree as it is, without building it: the packages hold the
# programs ctest is testing.
if ! "$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  fail "cpack could not build the packages"
fi
# Exactly two packages: an install rule without its package would make a third.
arch=$(dpkg --print-architecture)
check_deb=$(echo "$work/out/corvanexml-check_${version}-"*"_$arch.deb")
window_deb=$(echo "$work/out/corvanexml_${version}-"*"_$arch.deb")
made=$(cd "$work/out" && ls -- *.deb)
[ -f "$check_deb" ] && [ -f "$window_deb" ] && [ "$(wc -l <<<"$made")" -eq 2 ] ||
  fail "cpack made: $(tr '\n' ' ' <<<"$made")"
debian_version=$(dpkg-deb -f "$check_deb" Version)

# The package names in a package's Depends, one a line.
depends_names() { dpkg-deb -f "$1" Depends | tr ',' '\n' | sed 's/^ *//; s/[ (].*//'; }
needs() {
  local deb=$1 names
  shift
  names=$(depends_names "$deb")
  for need; do
    grep -qx "$need" <<<"$names" || fail "$(basename "$deb") does not depend on $need: $(dpkg-deb -f "$deb" Depends)"
  done
}
# The library packages come from dpkg-shlibdeps; the others are named by hand. A CI image
# installs the checker without the window toolkit.
needs "$check_deb" libxml2 'libldap-.*' ca-certificates
! depends_names "$check_deb" | grep -q '^libqt' || fail "the checker depends on Qt: $(dpkg-deb -f "$check_deb" Depends)"
needs "$window_deb" libqt6widgets6 libqt6gui6 xdg-utils fonts-dejavu-core
dpkg-deb -f "$window_deb" Depends | grep -qF "corvanexml-check (= $debian_version)" ||
  fail "the window does not depend on its own version of the checker: $(dpkg-deb -f "$window_deb" Depends)"

# Files each package holds, directories left out.
files() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' | sort; }
holds() {
  local deb=$1 listed
  shift
  listed=$(files "$deb")
  for file; do
    grep -qx "$file" <<<"$listed" || fail "$(basename "$deb") lacks $file"
  done
}
holds "$check_deb" /usr/bin/corvanexml-check /usr/share/corvanexml/trees/demo.schema /usr/share/corvanexml/README.md \
  /usr/share/man/man1/corvanexml-check.1.gz /usr/share/bash-completion/completions/corvanexml-check \
  /usr/share/doc/corvanexml-check/copyright /usr/share/doc/corvanexml-check/changelog.Debian.gz
holds "$window_deb" /usr/bin/CorvaneXml /usr/share/corvanexml/CorvaneXml.txt /usr/share/applications/corvanexml.desktop \
  /usr/share/icons/hicolor/scalable/apps/corvanexml.svg /usr/share/man/man1/CorvaneXml.1.gz \
  /usr/share/doc/corvanexml/copyright /usr/share/doc/corvanexml/changelog.Debian.gz
# dpkg refuses to install a package over a file that another one holds.
shared=$(comm -12 <(files "$check_deb") <(files "$window_deb"))
[ -z "$shared" ] || fail "both packages hold $shared"

root=$work/root
dpkg-deb -x "$check_deb" "$root"
# The changelog names the version it is packaged at: a new version needs its entry.
logged=$(zcat "$root/usr/share/doc/corvanexml-check/changelog.Debian.gz" | dpkg-parsechangelog -l - -S Version)
[ "$logged" = "$debian_version" ] || fail "the changelog's latest entry is $logged, the package is $debian_version"
# The example web application a new user tries first, whole.
diff -r "$source/examples/webapp" "$root/usr/share/doc/corvanexml-check/examples/webapp" >&2 ||
  fail "the installed example web application differs from examples/webapp"

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

# The window's package on top, as apt installs it.
dpkg-deb -x "$window_deb" "$root"
# Only the programs in bin/: their data must be found under share/, not beside them.
[ "$(ls "$root/usr/bin" | tr '\n' ' ')" = "CorvaneXml corvanexml-check " ] ||
  fail "bin/ holds more than the programs: $(ls "$root/usr/bin")"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/usr/share/applications/corvanexml.desktop" >&2 || fail "desktop entry"
else
  echo "desktop-file-validate not installed: desktop entry not validated" >&2
fi
if command -v groff >/dev/null; then
  for page in corvanexml-check CorvaneXml; do
    warnings=$(zcat "$root/usr/share/man/man1/$page.1.gz" | groff -man -Tutf8 -ww -z 2>&1)
    [ -z "$warnings" ] || fail "man page $page: $warnings"
  done
fi
# Both packages as Debian's own tools judge them, overrides included.
if command -v lintian >/dev/null; then
  lintian --fail-on error,warning "$check_deb" "$window_deb" >&2 || fail "lintian found errors or warnings"
else
  echo "lintian not installed: packages not checked by it" >&2
fi
for deb in "$check_deb" "$window_deb"; do
  echo "package $(basename "$deb"): $(du -k "$deb" | cut -f1) KiB, $(dpkg-deb -f "$deb" Installed-Size) KiB installed"
done
