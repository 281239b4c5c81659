#!/usr/bin/env bash
# Installs what the build and the tests need from Debian's packages. Safe to run again:
# it installs only what is missing and never asks a question.
set -euo pipefail
# All it says is progress: standard output stays free for what its caller prints.
exec 1>&2

packages=(
  build-essential cmake ninja-build pkg-config
  libxml2-dev libxml2-utils nlohmann-json3-dev libtomlplusplus-dev
  libgtest-dev googletest
  qt6-base-dev fonts-dejavu-core xdg-utils
  libldap-dev slapd ldap-utils openssl ca-certificates
  time clang libclang-rt-14-dev clang-format clang-tidy
  python3-jsonschema vim
  dpkg-dev file groff-base desktop-file-utils lintian pre-commit git
  xvfb openbox wmctrl
  neovim elpa-eglot
)

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

# The editor tests run eglot in a terminal Emacs; an Emacs with a window serves as well, and
# the variants exclude each other, so one already installed stays.
installed emacs-gtk || installed emacs-lucid || packages+=(emacs-nox)

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
