#!/usr/bin/env bash
# One feature of the language server as Neovim uses it, with the configuration the README
# shows. Skipped (77) without Neovim 0.7 or later, or when the server does not advertise
# the feature.
#
#   nvim_test.sh BIN_DIR SOURCE_DIR FEATURE
set -euo pipefail
bin=$(cd "$1" && pwd) source=$(cd "$2" && pwd) feature=$3
here=$(dirname "$(readlink -f "$0")")
# shellcheck source=editor_test_lib.sh
. "$here/editor_test_lib.sh"

command -v nvim >/dev/null || skip "Neovim (nvim) is not installed"
nvim --headless --clean -u NONE -c 'lua io.stdout:write(vim.fn.has("nvim-0.7"))' -c 'qall!' 2>/dev/null |
  grep -q 1 || skip "Neovim is older than 0.7"

config="$source/editors/neovim/corvanexml-0.7.lua"
readme_quotes "$config"
make_webapp
CORVANE_NVIM_CONFIG="$config" CORVANE_PLUGIN_FILE="$plugin" CORVANE_FEATURE="$feature" \
  CORVANE_RESULTS="$work/results" run_bounded nvim --headless --clean -u "$here/nvim_client_test.lua"
report "Neovim $feature"
