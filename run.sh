#!/usr/bin/env bash
# Sets up everything, builds the optimised programs and opens the window. Without a display
# it says so and checks the shipped example web application with the command-line checker
# instead. With arguments it runs the command-line checker on them.
set -euo pipefail
cd "$(dirname "$0")"
# Standard output belongs to the program run at the end (`./run.sh --format sarif webapp >
# out.sarif`); the setup's and the build's chatter goes to standard error.
exec 3>&1 1>&2
scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release
bin=build/release/bin
if [ $# -gt 0 ]; then exec "$bin/corvanexml-check" "$@" 1>&3 3>&-; fi
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then exec "$bin/CorvaneXml" 1>&3 3>&-; fi
echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): checking examples/webapp with corvanexml-check instead."
# Exit status 1 means the examples' findings were listed, which is what they are for.
"$bin/corvanexml-check" --show-tree examples/webapp 1>&3 3>&- || [ $? -eq 1 ]
