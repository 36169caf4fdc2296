#!/bin/sh
# Runs a command on a virtual X desktop with a system tray: Xvfb on a display
# number it picks itself, and trayer, the XEmbed tray that Qt docks its icon
# into at the top right. The command sees DISPLAY and QT_QPA_PLATFORM=xcb;
# its exit code is this script's, and 77 means no virtual desktop here.
#
#   tools/desktop.sh COMMAND [ARGS...]
set -u
for tool in Xvfb trayer xwininfo; do
    command -v $tool >/dev/null || { echo "desktop: $tool is missing" >&2; exit 77; }
done
dir=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$dir/display" 2>"$dir/xvfb.log" &
xvfb=$!
trap 'kill $tray $xvfb 2>/dev/null; wait 2>/dev/null; rm -rf "$dir"' EXIT
tray=
waited=0
until [ -s "$dir/display" ] && xwininfo -root -display ":$(cat "$dir/display")" >/dev/null 2>&1; do
    waited=$((waited + 1))
    [ $waited -gt 100 ] && { cat "$dir/xvfb.log" >&2; exit 77; }
    sleep 0.05
done
export DISPLAY=":$(cat "$dir/display")" QT_QPA_PLATFORM=xcb
trayer --edge top --align right --widthtype request --height 32 --SetDockType true \
    --transparent false --tint 0x808080 >/dev/null 2>&1 &
tray=$!
waited=0
until xwininfo -root -tree | grep -q '"trayer"'; do
    waited=$((waited + 1))
    [ $waited -gt 100 ] && { echo "desktop: trayer did not start" >&2; exit 77; }
    sleep 0.05
done
"$@"
