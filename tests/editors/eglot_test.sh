#!/usr/bin/env bash
# One feature of the language server as Emacs with eglot uses it, with the configuration
# the README shows. Skipped (77) without Emacs and eglot, or when the server does not
# advertise the feature.
#
#   eglot_test.sh BIN_DIR SOURCE_DIR FEATURE
set -euo pipefail
bin=$(cd "$1" && pwd) source=$(cd "$2" && pwd) feature=$3
here=$(dirname "$(readlink -f "$0")")
# shellcheck source=editor_test_lib.sh
. "$here/editor_test_lib.sh"

command -v emacs >/dev/null || skip "Emacs is not installed"
emacs --batch --eval '(kill-emacs (if (locate-library "eglot") 0 1))' 2>/dev/null || skip "eglot is not installed"

config="$source/editors/emacs/corvanexml.el"
readme_quotes "$config"
make_webapp
CORVANE_PLUGIN_FILE="$plugin" CORVANE_FEATURE="$feature" CORVANE_RESULTS="$work/results" \
  run_bounded emacs --batch -f package-activate-all -l "$config" -l "$here/eglot_client_test.el"
report "eglot $feature"
