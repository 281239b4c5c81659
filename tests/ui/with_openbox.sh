#!/usr/bin/env bash
# Runs a command on a private X server with openbox managing its windows: window placement
# can only be checked where a window manager draws a frame, which the offscreen platform does
# not. Usage: with_openbox.sh COMMAND [ARG...]; exits with the command's status.
set -euo pipefail

work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-x.XXXXXX")
xvfb_pid=""
wm_pid=""
cleanup() {
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null && wait "$wm_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# Polls (0.1 s steps, at most 20 s) until the file exists and is not empty.
wait_for_file() {
  for _ in $(seq 200); do
    [ -s "$1" ] && return 0
    sleep 0.1
  done
  echo "with_openbox.sh: $2 did not start; its log:" >&2
  cat "$work/$2.log" >&2
  exit 1
}

# The server picks a free display number itself and reports it on descriptor 3.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
wait_for_file "$work/display" xvfb
export DISPLAY=":$(head -n1 "$work/display")"

# Screen margins, as a panel's, keep a maximised window's frame off the screen's corner,
# whose 0s the placement settings would read as "not stored".
mkdir "$work/openbox"
cat >"$work/openbox/rc.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <margins><top>24</top><bottom>0</bottom><left>16</left><right>0</right></margins>
</openbox_config>
XML
# openbox reads its settings from $work and runs its startup command once it manages the
# screen.
XDG_CONFIG_HOME="$work" XDG_CACHE_HOME="$work" \
  openbox --sm-disable --startup "sh -c 'echo up >$work/wm-ready'" >"$work/openbox.log" 2>&1 &
wm_pid=$!
wait_for_file "$work/wm-ready" openbox

export QT_QPA_PLATFORM=xcb
# There is no session bus here. Without an address the D-Bus library tries to start one
# through the X server, an attempt that leaks (as sanitizer builds report) and is not needed.
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-session-bus"
status=0
"$@" || status=$?
exit "$status"
