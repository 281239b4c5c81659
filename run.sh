#!/usr/bin/env bash
# Sets up everything, builds the optimised programs and checks the shipped example web
# application (or the files and folders given as arguments).
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release
if [ $# -eq 0 ]; then set -- --show-tree examples/webapp; fi
exec build/release/bin/corvanexml-check "$@"
