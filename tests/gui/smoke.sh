#!/usr/bin/env bash
# Trelvant on a virtual desktop with a real system tray.
#
# Starts Xvfb and the XEmbed tray host `trayer`, runs Trelvant against a
# throw-away HOME and XDG_CONFIG_HOME, drives it through its tray icon with
# xdotool the way a user would, and saves screenshots into docs/:
#
#   tray-rest.png      the icon at rest (magnified 3x)
#   tray-menu.png      the context menu with the Help sub-menu open
#   about.png          the About box (Help > About)
#   options-en.png     the options window, English interface
#   tray-alert.png     the icon in its red phase, with the arrival balloon
#   quit-confirm.png   the confirmation that Close asks for
#   tray-menu-ru.png   the context menu again, Russian interface
#   options-ru.png     the options window, Russian interface
#
# It also checks that the reference datagram sent by scale-sim lands in the
# day's data file, and that quitting through the menu ends the program with
# exit code 0. Any failed step makes the script exit non-zero.
#
# Usage: bash tests/gui/smoke.sh [BUILD_DIR]      (make gui-check)
# BUILD_DIR holds Trelvant and tools/scale-sim/scale-sim; default "build".
# SCALVO_GUI_KEEP=1 keeps the temporary folder (logs, raw screenshots).

# Functions below are called indirectly (trap, wait_until), which shellcheck
# takes for unreachable code.
# shellcheck disable=SC2317
set -uo pipefail

log()  { printf '[gui] %s\n' "$*"; }
fail() { printf '[gui] FAIL: %s\n' "$*" >&2; exit 1; }

# --------------------------------------------------------------- packages ---
PACKAGES="xvfb trayer xdotool imagemagick x11-utils fonts-dejavu-core xauth"
missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
        missing="$missing $p"
done
if [ -n "$missing" ]; then
    command -v apt-get >/dev/null 2>&1 ||
        fail "missing packages:$missing (no apt-get here: install them by hand)"
    if [ "$(id -u)" = 0 ]; then
        SUDO=""
    elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
        SUDO="sudo -n"
    else
        printf '[gui] Missing packages. Run this once, then try again:\n' >&2
        printf '    sudo apt-get install -y --no-install-recommends%s\n' "$missing" >&2
        exit 1
    fi
    log "installing:$missing"
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -qq || fail "apt-get update"
    # shellcheck disable=SC2086
    $SUDO apt-get install -y -qq --no-install-recommends $missing || fail "apt-get install"
fi

# ImageMagick's own tools, by full path: another `convert` may come first in PATH.
CONVERT=/usr/bin/convert
IMPORT=/usr/bin/import
COMPARE=/usr/bin/compare
for t in "$CONVERT" "$IMPORT" "$COMPARE"; do
    [ -x "$t" ] || fail "$t not found (package imagemagick)"
done

# ------------------------------------------------------------------ paths ---
REPO=$(cd "$(dirname "$0")/../.." && pwd)
BUILD_ARG=${1:-build}
case "$BUILD_ARG" in /*) ;; *) [ -d "$BUILD_ARG" ] || BUILD_ARG="$REPO/$BUILD_ARG" ;; esac
BUILD=$(cd "$BUILD_ARG" 2>/dev/null && pwd) || fail "no build folder $BUILD_ARG"
APP="$BUILD/Trelvant"
SIM="$BUILD/tools/scale-sim/scale-sim"
[ -x "$APP" ] || fail "$APP not built"
[ -x "$SIM" ] || fail "$SIM not built"
DOCS="$REPO/docs"
mkdir -p "$DOCS"

WORK=$(mktemp -d "${TMPDIR:-/tmp}/scalvo-gui.XXXXXX") || fail "mktemp"
SHOTS="$WORK/shots"
mkdir -p "$WORK/home" "$WORK/config" "$WORK/runtime" "$SHOTS"
chmod 700 "$WORK/runtime"
DATA="$WORK/WeightData"

# Nothing of the real user's: own home, own settings, X only.
export HOME="$WORK/home"
export XDG_CONFIG_HOME="$WORK/config"
export XDG_RUNTIME_DIR="$WORK/runtime"
export QT_QPA_PLATFORM=xcb
export LC_ALL=C.UTF-8
unset WAYLAND_DISPLAY SESSION_MANAGER QT_QPA_PLATFORMTHEME QT_STYLE_OVERRIDE DBUS_SESSION_BUS_ADDRESS

XVFB_PID=""; TRAYER_PID=""; APP_PID=""

cleanup() {
    local rc=$?
    [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null
    [ -n "$TRAYER_PID" ] && kill "$TRAYER_PID" 2>/dev/null
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
    wait 2>/dev/null
    if [ "${SCALVO_GUI_KEEP:-0}" = 1 ] || [ "$rc" != 0 ]; then
        log "temporary files kept in $WORK"
    else
        rm -rf "$WORK"
    fi
    if [ "$rc" = 0 ]; then log "PASS"; else log "failed (exit $rc)"; fi
}
trap cleanup EXIT

# wait_until SECONDS WHAT COMMAND...: poll every 0.1 s until COMMAND succeeds.
wait_until() {
    local limit=$1 what=$2; shift 2
    local tries=$((limit * 10))
    while [ "$tries" -gt 0 ]; do
        "$@" >/dev/null 2>&1 && return 0
        if [ -n "$APP_PID" ] && ! kill -0 "$APP_PID" 2>/dev/null; then
            fail "Trelvant ended while waiting for: $what (log: $WORK/app.log)"
        fi
        sleep 0.1
        tries=$((tries - 1))
    done
    fail "timed out after ${limit}s waiting for: $what"
}

# -------------------------------------------------------------- free port ---
port_in_use() {
    command -v ss >/dev/null 2>&1 || return 1
    [ -n "$(ss -Hlun "sport = :$1" 2>/dev/null)" ]
}
PORT=$((15001 + RANDOM % 20000))
for _ in $(seq 1 50); do
    port_in_use "$PORT" || break
    PORT=$((15001 + RANDOM % 20000))
done
port_in_use "$PORT" && fail "no free UDP port found"

# ------------------------------------------------------------ X and tray ---
DISP=""
for n in $(seq 77 150); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then DISP=$n; break; fi
done
[ -n "$DISP" ] || fail "no free X display number"
export DISPLAY=":$DISP"
SCREEN_W=800; SCREEN_H=600

log "Xvfb on $DISPLAY (${SCREEN_W}x${SCREEN_H}x24)"
Xvfb "$DISPLAY" -screen 0 "${SCREEN_W}x${SCREEN_H}x24" -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
XVFB_PID=$!
wait_until 10 "Xvfb on $DISPLAY" xdpyinfo

log "trayer (XEmbed tray host) at the top right"
trayer --edge top --align right --widthtype request --height 32 \
    --SetDockType true --transparent false --tint 0x808080 >"$WORK/trayer.log" 2>&1 &
TRAYER_PID=$!
panel_up() { xwininfo -root -tree | grep -q '("panel" "trayer")'; }
wait_until 10 "trayer's panel" panel_up

# ---------------------------------------------------------------- helpers ---
shoot() { "$IMPORT" -window root "$1" || fail "screenshot $1"; }

# crop SRC WxH+X+Y DEST [SCALE%]: cut a region out of a full screenshot.
crop() {
    local scale=${4:-100%}
    "$CONVERT" "$1" -crop "$2" +repage -filter point -resize "$scale" -strip "$3" ||
        fail "crop $3"
    log "saved ${3#"$REPO"/} ($(stat -c %s "$3") bytes)"
}

# Geometry of the tray icon: the Trelvant window embedded in trayer's panel
# (deeper in the tree than Trelvant's own top-level windows). Sets ICON_*.
icon_geometry() {
    local line
    line=$(xwininfo -root -tree | grep -E '^ {8,}0x[0-9a-f]+ .*\("Trelvant" "Trelvant"\)' | head -n 1)
    [ -n "$line" ] || return 1
    ICON_W=$(sed -E 's/.*\) +([0-9]+)x([0-9]+)\+-?[0-9]+\+-?[0-9]+ +\+(-?[0-9]+)\+(-?[0-9]+).*/\1/' <<<"$line")
    ICON_H=$(sed -E 's/.*\) +([0-9]+)x([0-9]+)\+-?[0-9]+\+-?[0-9]+ +\+(-?[0-9]+)\+(-?[0-9]+).*/\2/' <<<"$line")
    ICON_X=$(sed -E 's/.*\) +([0-9]+)x([0-9]+)\+-?[0-9]+\+-?[0-9]+ +\+(-?[0-9]+)\+(-?[0-9]+).*/\3/' <<<"$line")
    ICON_Y=$(sed -E 's/.*\) +([0-9]+)x([0-9]+)\+-?[0-9]+\+-?[0-9]+ +\+(-?[0-9]+)\+(-?[0-9]+).*/\4/' <<<"$line")
    ICON_ID=$(awk '{print $1}' <<<"$line")
    [ "$ICON_W" -gt 4 ] && [ "$ICON_H" -gt 4 ] && [ "$ICON_X" -ge 0 ] && [ "$ICON_Y" -ge 0 ] &&
        [ $((ICON_X + ICON_W)) -le "$SCREEN_W" ] && [ $((ICON_Y + ICON_H)) -le "$SCREEN_H" ]
}

# The icon has settled in the panel (same place on two polls in a row) and
# has been painted: its area is no longer one flat colour.
LAST_ICON=""
icon_painted() {
    icon_geometry || return 1
    local now="$ICON_ID ${ICON_W}x${ICON_H}+${ICON_X}+${ICON_Y}"
    [ "$now" = "$LAST_ICON" ] || { LAST_ICON=$now; return 1; }
    shoot "$WORK/probe.png"
    local sd
    sd=$("$CONVERT" "$WORK/probe.png" -crop "${ICON_W}x${ICON_H}+${ICON_X}+${ICON_Y}" +repage \
        -colorspace gray -format '%[fx:standard_deviation]' info:) || return 1
    awk -v s="$sd" 'BEGIN { exit !(s > 0.05) }'
}

# Visible windows of the program, one decimal id per line.
app_windows() { xdotool search --onlyvisible --pid "$APP_PID" 2>/dev/null; }

# window_title ID: the window's title as UTF-8.
window_title() {
    xprop -id "$1" _NET_WM_NAME 2>/dev/null | sed -n 's/^_NET_WM_NAME([^)]*) = "\(.*\)"$/\1/p'
}

# Popup menus: visible windows of the program titled "Trelvant", other than
# the tray icon. Prints "id x y w h" per menu.
list_menus() {
    local w icon_dec
    icon_dec=$((ICON_ID))
    for w in $(app_windows); do
        [ "$w" = "$icon_dec" ] && continue
        [ "$(window_title "$w")" = "Trelvant" ] || continue
        eval "$(xdotool getwindowgeometry --shell "$w")"
        echo "$w $X $Y $WIDTH $HEIGHT"
    done
}
menus_count_is() { [ "$(list_menus | wc -l)" -eq "$1" ]; }

# A visible top-level window of the program with this exact title; sets WIN_*.
find_window() {
    local w
    for w in $(app_windows); do
        if [ "$(window_title "$w")" = "$1" ]; then
            eval "$(xdotool getwindowgeometry --shell "$w")"
            WIN_ID=$w; WIN_X=$X; WIN_Y=$Y; WIN_W=$WIDTH; WIN_H=$HEIGHT
            return 0
        fi
    done
    return 1
}
window_gone() { ! find_window "$1"; }

click_icon() { xdotool mousemove "$ICON_CX" "$ICON_CY" click "$1"; }

# Right-click the icon and wait for the context menu; sets MENU_*.
open_menu() {
    click_icon 3
    wait_until 5 "the context menu" menus_count_is 1
    read -r MENU_ID MENU_X MENU_Y MENU_W MENU_H < <(list_menus)
    log "context menu at ${MENU_X},${MENU_Y} size ${MENU_W}x${MENU_H}"
}

# The context menu has four rows: Options, separator, Help >, Close.
# Options fills about the top sixth, Help the middle, Close the bottom sixth.
menu_point() { # ROW: options|help|close
    local x=$((MENU_X + MENU_W / 2)) y
    case "$1" in
        options) y=$((MENU_Y + MENU_H / 6)) ;;
        help)    y=$((MENU_Y + MENU_H / 2)) ;;
        close)   y=$((MENU_Y + MENU_H * 5 / 6)) ;;
    esac
    echo "$x $y"
}

# Hover "Help" and wait for its sub-menu; sets SUB_*.
open_help() {
    # shellcheck disable=SC2046
    xdotool mousemove $(menu_point help)
    wait_until 5 "the Help sub-menu" menus_count_is 2
    local id x y w h
    while read -r id x y w h; do
        [ "$id" = "$MENU_ID" ] && continue
        SUB_X=$x; SUB_Y=$y; SUB_W=$w; SUB_H=$h
    done < <(list_menus)
    log "Help sub-menu at ${SUB_X},${SUB_Y} size ${SUB_W}x${SUB_H}"
}

close_menus() {
    xdotool key Escape
    sleep 0.1
    menus_count_is 0 || xdotool key Escape
    wait_until 5 "the menus to close" menus_count_is 0
}

# Crop of both menus and the icon, with a margin, into DEST.
shoot_menus() {
    local full
    full="$SHOTS/$(basename "$1")"
    shoot "$full"
    local m=8
    local x0=$((SUB_X < MENU_X ? SUB_X : MENU_X)) x1=$SCREEN_W y0=0
    local b1=$((MENU_Y + MENU_H)) b2=$((SUB_Y + SUB_H))
    local y1=$((b1 > b2 ? b1 : b2))
    x0=$((x0 - m < 0 ? 0 : x0 - m)); y1=$((y1 + m > SCREEN_H ? SCREEN_H : y1 + m))
    crop "$full" "$((x1 - x0))x$((y1 - y0))+${x0}+${y0}" "$1"
}

# Crop of a window (plus a 2 px margin) from a fresh screenshot into DEST.
shoot_window() {
    local full
    full="$SHOTS/$(basename "$1")"
    shoot "$full"
    local x0=$((WIN_X - 2 < 0 ? 0 : WIN_X - 2)) y0=$((WIN_Y - 2 < 0 ? 0 : WIN_Y - 2))
    local x1=$((WIN_X + WIN_W + 2)) y1=$((WIN_Y + WIN_H + 2))
    [ "$x1" -gt "$SCREEN_W" ] && x1=$SCREEN_W
    [ "$y1" -gt "$SCREEN_H" ] && y1=$SCREEN_H
    crop "$full" "$((x1 - x0))x$((y1 - y0))+${x0}+${y0}" "$1"
}

write_conf() { # LANGUAGE
    cat >"$XDG_CONFIG_HOME/Ponderix.conf" <<EOF
[General]
FilePath=$DATA
UdpPort=$PORT
Language=$1
ShowTrayMessage=true
AutoLoad=false
Debug=false
EOF
    log "wrote $XDG_CONFIG_HOME/Ponderix.conf (Language=$1, UdpPort=$PORT, FilePath=$DATA)"
}

start_app() { # LANGUAGE
    write_conf "$1"
    log "starting $APP"
    "$APP" >>"$WORK/app.log" 2>&1 &
    APP_PID=$!
    LAST_ICON=""
    wait_until 20 "the tray icon to be embedded and painted" icon_painted
    ICON_CX=$((ICON_X + ICON_W / 2)); ICON_CY=$((ICON_Y + ICON_H / 2))
    log "tray icon ${ICON_W}x${ICON_H} at ${ICON_X},${ICON_Y} (pid $APP_PID)"
    if app_windows | grep -qvx "$((ICON_ID))"; then
        fail "a window is on screen right after start-up"
    fi
}

# Quit through the menu: Close, then Yes in the confirmation (SHORT_TITLE).
quit_app() { # SHORT_TITLE [SCREENSHOT]
    open_menu
    # shellcheck disable=SC2046
    xdotool mousemove $(menu_point close) click 1
    wait_until 5 "the quit confirmation \"$1\"" find_window "$1"
    log "quit confirmation \"$1\" ${WIN_W}x${WIN_H} at ${WIN_X},${WIN_Y}"
    [ -n "${2:-}" ] && shoot_window "$2"
    xdotool windowfocus "$WIN_ID" 2>/dev/null
    xdotool key y                       # the "&Yes" button's mnemonic
    local tries=30
    while kill -0 "$APP_PID" 2>/dev/null && [ "$tries" -gt 0 ]; do sleep 0.1; tries=$((tries - 1)); done
    if kill -0 "$APP_PID" 2>/dev/null && find_window "$1"; then
        log "\"y\" did not answer the box; pressing Return (its default button, Yes)"
        xdotool windowfocus "$WIN_ID" 2>/dev/null
        xdotool key Return
    fi
    tries=100
    while kill -0 "$APP_PID" 2>/dev/null && [ "$tries" -gt 0 ]; do sleep 0.1; tries=$((tries - 1)); done
    kill -0 "$APP_PID" 2>/dev/null && fail "Trelvant still runs 10 s after Close > Yes"
    local rc=0
    wait "$APP_PID" || rc=$?
    APP_PID=""
    [ "$rc" = 0 ] || fail "Trelvant ended with exit code $rc (log: $WORK/app.log)"
    log "Trelvant ended with exit code 0"
    wait_until 5 "the tray icon to go" sh -c '! xwininfo -root -tree | grep -qE "^ {8,}0x[0-9a-f]+ .*\(\"Trelvant\" \"Trelvant\"\)"'
}

# Mean of red minus mean of green over the icon in a screenshot.
icon_redness() {
    "$CONVERT" "$1" -crop "${ICON_W}x${ICON_H}+${ICON_X}+${ICON_Y}" +repage \
        -format '%[fx:mean.r-mean.g]' info:
}

# =========================================================== English run ===
start_app English

# --- tray-rest.png: the icon at rest, with a little of the panel around it.
REST="$SHOTS/rest-full.png"
shoot "$REST"
"$CONVERT" "$REST" -crop "${ICON_W}x${ICON_H}+${ICON_X}+${ICON_Y}" +repage "$SHOTS/icon-rest.png"
RX=$((ICON_X - 40 < 0 ? 0 : ICON_X - 40)); RW=$((SCREEN_W - RX))
crop "$REST" "${RW}x$((ICON_Y + ICON_H + 8))+${RX}+0" "$DOCS/tray-rest.png" 300%

# --- tray-menu.png: context menu with Help open.
open_menu
open_help
shoot_menus "$DOCS/tray-menu.png"

# --- about.png: Help > About, the second row of the sub-menu
# (About Qt, About, separator, License, separator, Help).
xdotool mousemove "$((SUB_X + SUB_W / 2))" "$((SUB_Y + SUB_H * 35 / 100))" click 1
wait_until 5 "the About box \"Scalvo\"" find_window Scalvo
log "About box ${WIN_W}x${WIN_H} at ${WIN_X},${WIN_Y}"
shoot_window "$DOCS/about.png"
xdotool windowfocus "$WIN_ID" 2>/dev/null
xdotool key Return
wait_until 5 "the About box to close" window_gone Scalvo

# --- options-en.png: Options, the menu's first entry.
open_menu
# shellcheck disable=SC2046
xdotool mousemove $(menu_point options) click 1
wait_until 5 "the options window \"Scalvanto\"" find_window Scalvanto
log "options window \"Scalvanto\" ${WIN_W}x${WIN_H} at ${WIN_X},${WIN_Y}"
shoot_window "$DOCS/options-en.png"
# Options again hides it.
open_menu
# shellcheck disable=SC2046
xdotool mousemove $(menu_point options) click 1
wait_until 5 "the options window to hide" window_gone Scalvanto

# --- tray-alert.png: a datagram arrives; the icon turns red every other 800 ms.
DAY_BEFORE=$(date +%d.%m.%Y)
log "sending the reference datagram to 127.0.0.1:$PORT"
"$SIM" --example --host 127.0.0.1 --port "$PORT" >"$WORK/sim.log" 2>&1 ||
    fail "scale-sim --example failed: $(cat "$WORK/sim.log")"
DAY_AFTER=$(date +%d.%m.%Y)
for i in $(seq -w 0 12); do
    shoot "$SHOTS/alert-$i.png"
    sleep 0.2
done
REST_RED=$(icon_redness "$REST")
ALERT=""
for f in "$SHOTS"/alert-*.png; do
    "$CONVERT" "$f" -crop "${ICON_W}x${ICON_H}+${ICON_X}+${ICON_Y}" +repage "$SHOTS/icon-now.png"
    diff=$("$COMPARE" -metric AE "$SHOTS/icon-now.png" "$SHOTS/icon-rest.png" null: 2>&1 >/dev/null)
    red=$(icon_redness "$f")
    log "$(basename "$f"): ${diff%% *} pixels differ from rest, red-green $red (rest $REST_RED)"
    # The balloon's pointer reaches into the icon's area (a few dozen pixels);
    # the red image changes most of the icon and raises red over green.
    if [ -z "$ALERT" ] && awk -v d="${diff%% *}" -v r="$red" -v r0="$REST_RED" \
        'BEGIN { exit !(d > 100 && r > r0 + 0.02) }'; then
        ALERT=$f
    fi
done
[ -n "$ALERT" ] || fail "no screenshot shows the icon in its red phase within 2.6 s"
log "red phase seen in $(basename "$ALERT")"
# Balloon: Qt draws it below the icon; it is light where the root is black.
BALLOON=$("$CONVERT" "$ALERT" -crop 230x60+$((SCREEN_W - 240))+40 +repage -colorspace gray \
    -format '%[fx:mean]' info:)
if awk -v m="$BALLOON" 'BEGIN { exit !(m > 0.5) }'; then
    log "the arrival balloon is on screen"
else
    log "no balloon seen below the icon (mean brightness $BALLOON)"
fi
crop "$ALERT" "400x140+$((SCREEN_W - 400))+0" "$DOCS/tray-alert.png" 200%

# --- the data file.
LINE='1234;0;5.12.2011 14:3:9;2;00017;3;105;4590;1250;'
FILE=""
for day in "$DAY_BEFORE" "$DAY_AFTER"; do
    [ -f "$DATA/$day/data_1.txt" ] && FILE="$DATA/$day/data_1.txt"
done
[ -n "$FILE" ] || fail "no $DATA/$DAY_AFTER/data_1.txt (found: $(find "$DATA" -type f 2>/dev/null | tr '\n' ' '))"
tr -d '\r' <"$FILE" | grep -qxF "$LINE" || fail "$FILE lacks the line $LINE"
log "$FILE holds $LINE"

# --- quit-confirm.png, then Yes.
quit_app Scalvo "$DOCS/quit-confirm.png"

# =========================================================== Russian run ===
start_app Russian

open_menu
open_help
shoot_menus "$DOCS/tray-menu-ru.png"
close_menus

open_menu
# shellcheck disable=SC2046
xdotool mousemove $(menu_point options) click 1
wait_until 5 "the options window \"Скальванто\"" find_window "Скальванто"
log "options window \"Скальванто\" ${WIN_W}x${WIN_H} at ${WIN_X},${WIN_Y}"
shoot_window "$DOCS/options-ru.png"
# Options again hides it, so this run quits from the same state as the first.
open_menu
# shellcheck disable=SC2046
xdotool mousemove $(menu_point options) click 1
wait_until 5 "the options window to hide" window_gone "Скальванто"

quit_app "Скальво"

log "screenshots in ${DOCS#"$REPO"/}/: tray-rest tray-menu about options-en tray-alert quit-confirm tray-menu-ru options-ru"
exit 0
