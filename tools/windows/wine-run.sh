#!/usr/bin/env bash
# Runs a Windows test program under wine: the Windows build's
# CMAKE_CROSSCOMPILING_EMULATOR, so that `ctest` in that build runs each test
# there. Headless (Qt's offscreen platform), in the prefix BUILD/wine, with
# the DLLs and plugins of BUILD/deploy and QT_BIN. A Qt Test's output does
# not reach Linux, so it goes to BUILD/test-results/NAME.txt and is printed
# from there.
#
#   tools/windows/wine-run.sh BUILD QT_BIN PROGRAM.exe [ARGS...]
set -uo pipefail
build=$1 qt_bin=$2 program=$3
shift 3
winpath() { echo "Z:${1//\//\\}"; }
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEPREFIX=$build/wine
export WINEPATH="$(winpath "$build/deploy");$(winpath "$qt_bin")"
export WINEQT_QPA_PLATFORM=offscreen WINEQT_PLUGIN_PATH="$(winpath "$build/deploy")"
unset DISPLAY WAYLAND_DISPLAY
# A prefix is made once (wineboot takes a while).
flock "$WINEPREFIX.lock" sh -c '[ -d "$WINEPREFIX" ] || wineboot -i' >/dev/null 2>&1
out=$build/test-results/$(basename "$program" .exe).txt
mkdir -p "$build/test-results" && rm -f "$out"
wine "$program" -o "$(winpath "$out"),txt" "$@"
rc=$?
cat "$out" 2>/dev/null
exit $rc
