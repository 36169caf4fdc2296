#!/usr/bin/env bash
# Screenshots of the Windows build under wine, for the README:
#   docs/windows-tray.png     wine's tray window holding Trelvant's icon
#   docs/windows-balloon.png  the balloon after the example datagram arrived
#   docs/windows-options.png  the options window (tray menu > Options)
#   docs/windows-about.png    the About box (tray menu > Help > About)
#   docs/windows-status.png   the status window (tray menu > Status)
#
#   tools/windows/screenshots.sh [BUILD]        (BUILD: build-windows)
#
# Runs BUILD/deploy/Trelvant.exe, in BUILD's sandbox, in a throw-away wine
# prefix on a virtual display of its own (tools/desktop.sh --no-tray, with
# no window manager), where wine shows its own small tray window at the top
# left; drives the tray menu with xdotool and sends the datagram with
# BUILD's scale-sim.exe. Needs the packages xvfb, xdotool, imagemagick and
# fonts-wine (Tahoma and friends). Qt's default GDI font engine draws with a
# stand-in font under wine and leaves line edits blank; its FreeType engine
# shows the texts, so it is used.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
[ -n "${SCALVO_DESKTOP:-}" ] || exec "$repo/tools/desktop.sh" --no-tray bash "$0" "$@"
build=$(cd "${1:-$repo/build-windows}" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/scalvo-shots.XXXXXX")
. "$repo/tools/windows/wine-env.sh"
use_prefix "$work/wine" "$build/deploy"
export WINEQT_QPA_PLATFORM=windows:fontengine=freetype
app=""
trap 'kill $app 2>/dev/null; wineserver -k 2>/dev/null; rm -rf "$work"' EXIT

# click_for TITLE NOT_ID X Y BUTTON: clicks at X,Y until a visible window
# titled exactly TITLE, other than NOT_ID, shows (under wine a click now and
# then goes astray); sets ID, X, Y, WIDTH and HEIGHT to that window.
click_for() {
    local title=$1 not=$2 cx=$3 cy=$4 button=$5
    for _ in $(seq 5); do
        [ -n "$cx" ] && xdotool mousemove "$cx" "$cy" click "$button"
        for _ in $(seq 15); do
            for ID in $(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null); do
                [ "$ID" != "$not" ] && eval "$(xdotool getwindowgeometry --shell "$ID")" && return 0
            done
            sleep 0.2
        done
    done
    echo "no window \"$title\" appeared" >&2 && exit 1
}
# shot NAME WxH+X+Y [SCALE]: the region of the screen, framed, into docs/NAME.
shot() {
    import -window root "$work/screen.png"
    convert "$work/screen.png" -crop "$2" +repage -filter point -resize "${3:-100%}" \
        -bordercolor gray50 -border 1 -strip "$repo/docs/$1"
    echo "docs/$1"
}
menu() { click_for Trelvant "" "$icon_x" "$icon_y" 3 && MENU=$ID && sleep 0.5; }

WINEPATH="$WINEPATH;$(winpath "$build/tools/sandbox")" wine "$build/tools/sandbox/trelvant-sandbox.exe" \
    --option ShowTrayMessage=true --option AutoLoad=true --option FilePath= --option UdpPort=5001 --info "$(winpath "$work/info")" "$build/deploy/Trelvant.exe" >/dev/null 2>&1 &
app=$!
until [ -s "$work/info" ]; do sleep 0.2; done
port=$(sed -n 's/^port //p' "$work/info" | tr -d '\r')

click_for "Wine System Tray" "" "" "" ""
icon_x=$((X + 10)) icon_y=$((Y + HEIGHT / 2))
sleep 2
shot windows-tray.png "$((WIDTH + 8))x$((HEIGHT + 8))+$((X - 3))+$((Y - 4))" 200%

wine "$build/tools/scale-sim/scale-sim.exe" --example --port "$port" >/dev/null 2>&1
for _ in $(seq 50); do  # the balloon: a nameless window of wine's explorer
    for b in $(xdotool search --onlyvisible --class explorer.exe); do
        [ -z "$(xdotool getwindowname "$b")" ] && eval "$(xdotool getwindowgeometry --shell "$b")" && break 2
    done
    sleep 0.2
done
shot windows-balloon.png "$((WIDTH + 8))x$((Y + HEIGHT + 4 - 18))+0+18"

# The menu's rows: Options, Status, Open data folder, a separator, Help, Close.
row() { echo $((Y + HEIGHT * $1 / 100)); }
menu
click_for Scalvanto "" $((X + WIDTH / 2)) "$(row 10)" 1   # Options
shot windows-options.png "${WIDTH}x$HEIGHT+$X+$Y"
sleep 1
menu   # Options again hides the window
xdotool mousemove $((X + WIDTH / 2)) "$(row 10)" click 1
sleep 1

menu
click_for "Scalvanto - Status" "" $((X + WIDTH / 2)) "$(row 27)" 1   # Status
sleep 1.5   # its first figures
shot windows-status.png "${WIDTH}x$HEIGHT+$X+$Y"
xdotool key --window "$ID" Escape
xdotool windowclose "$ID" 2>/dev/null || true
sleep 1

menu
click_for Trelvant "$MENU" $((X + WIDTH / 2)) "$(row 70)" 1   # Help: its sub-menu
click_for Scalvo "" $((X + WIDTH / 2)) $((Y + HEIGHT * 35 / 100)) 1   # About
sleep 0.5
shot windows-about.png "${WIDTH}x$HEIGHT+$X+$Y"
xdotool key Return
wine taskkill /IM Trelvant.exe >/dev/null 2>&1
wait "$app" || true
app=""
