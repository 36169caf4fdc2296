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
. "$(dirname "$0")/wine-env.sh"
use_prefix "$build/wine" "$build/deploy" "$qt_bin"
export WINEQT_QPA_PLATFORM=offscreen WINEQT_PLUGIN_PATH="$(winpath "$build/deploy")"
unset DISPLAY WAYLAND_DISPLAY
out=$build/test-results/$(basename "$program" .exe).txt
mkdir -p "$build/test-results" && rm -f "$out"
wine "$program" -o "$(winpath "$out"),txt" "$@"
rc=$?
cat "$out" 2>/dev/null
exit $rc
