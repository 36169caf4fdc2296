#!/bin/sh
# Runs a command on a virtual X desktop: Xvfb (800x600) on a display number
# it picks itself, and, unless --no-tray, trayer, the XEmbed tray that Qt
# docks its icon into at the top right, with QT_QPA_PLATFORM=xcb for the
# command. Wine brings a tray of its own: its scripts ask for --no-tray.
# The command sees DISPLAY and SCALVO_DESKTOP=1; its exit code is this script's, and 77 means no
# virtual desktop here.
#
#   tools/desktop.sh [--no-tray] COMMAND [ARGS...]
set -u
tray_wanted=yes
[ "${1:-}" = --no-tray ] && { tray_wanted=""; shift; }
for tool in Xvfb xwininfo ${tray_wanted:+trayer}; do
    command -v $tool >/dev/null || { echo "desktop: $tool is missing" >&2; exit 77; }
done
dir=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$dir/display" 2>"$dir/xvfb.log" &
xvfb=$!
tray=
trap 'kill $tray $xvfb 2>/dev/null; wait 2>/dev/null; rm -rf "$dir"' EXIT
waited=0
until [ -s "$dir/display" ] && xwininfo -root -display ":$(cat "$dir/display")" >/dev/null 2>&1; do
    waited=$((waited + 1))
    [ $waited -gt 100 ] && { cat "$dir/xvfb.log" >&2; exit 77; }
    sleep 0.05
done
# SCALVO_DESKTOP: the scripts that need a display of their own see they have it.
export DISPLAY=":$(cat "$dir/display")" SCALVO_DESKTOP=1
if [ -n "$tray_wanted" ]; then
    export QT_QPA_PLATFORM=xcb
    trayer --edge top --align right --widthtype request --height 32 --SetDockType true \
        --transparent false --tint 0x808080 >/dev/null 2>&1 &
    tray=$!
    waited=0
    until xwininfo -root -tree | grep -q '"trayer"'; do
        waited=$((waited + 1))
        [ $waited -gt 100 ] && { echo "desktop: trayer did not start" >&2; exit 77; }
        sleep 0.05
    done
fi
"$@"
