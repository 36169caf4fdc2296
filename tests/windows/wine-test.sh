#!/usr/bin/env bash
# The Windows build under wine: every test program, then the installer.
#
#   tests/windows/wine-test.sh BUILD LINUX_BUILD             (make windows-test)
#   tests/windows/wine-test.sh --run BUILD QT_BIN PROGRAM.exe [ARGS...]
#
# The second form is the Windows build's CMAKE_CROSSCOMPILING_EMULATOR, so
# `ctest` in BUILD runs each test program under wine: headless (Qt's
# offscreen platform), in the prefix BUILD/wine, with the DLLs and plugins of
# BUILD/deploy and Qt6Test.dll from QT_BIN. A Qt Test's output does not reach
# Linux, so it goes to BUILD/test-results/NAME.txt and is printed from there.
#
# The first form runs ctest in a fresh prefix and prints a line per program
# with its counts. Then it installs BUILD/Scalvanto-*-win64-setup.exe with /S
# into another fresh prefix, lets the installed Trelvant.exe file the example
# datagram sent by LINUX_BUILD's scale-sim, compares the data file byte for
# byte, ends the program as Windows asks a program to close (taskkill
# without /F), uninstalls with /S and checks what must go (program
# folder, Start-menu entry, uninstall key) and what must stay (data, options,
# Run value). The installed program runs as users run it, with Qt's Windows
# platform, on a display of its own (Xvfb :90-:99), where wine keeps the
# tray. It exits non-zero if anything failed.
set -uo pipefail
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

winpath() { local p=${1//\//\\}; echo "Z:$p"; }

# A prefix is made once (wineboot takes a while); ctest -j may race to it.
use_prefix() {
    export WINEPREFIX=$1
    flock "$WINEPREFIX.lock" sh -c '[ -d "$WINEPREFIX" ] || wineboot -i' >/dev/null 2>&1
}

if [ "${1:-}" = --run ]; then
    build=$2 exe=$4
    use_prefix "$build/wine"
    export WINEPATH="$(winpath "$build/deploy");$(winpath "$3")"
    export WINEQT_PLUGIN_PATH="$(winpath "$build/deploy")" WINEQT_QPA_PLATFORM=offscreen
    out=$build/test-results/$(basename "$exe" .exe)
    mkdir -p "$build/test-results" && rm -f "$out.txt"
    shift 4
    wine "$exe" -o "$(winpath "$out.txt"),txt" "$@"
    rc=$?
    echo "$rc" >"$out.rc"
    cat "$out.txt" 2>/dev/null
    exit "$rc"
fi

build=$(cd "${1:?usage: wine-test.sh BUILD LINUX_BUILD}" && pwd)
linux=$(cd "${2:?usage: wine-test.sh BUILD LINUX_BUILD}" && pwd)

# ------------------------------------------------------------ test programs
rm -rf "$build/wine" "$build/test-results" && mkdir "$build/test-results"
echo "== the test programs under wine"
ctest --test-dir "$build" --output-on-failure >"$build/ctest.log" 2>&1
tests_rc=$?
echo "(ctest's output: $build/ctest.log)"
for name in $(ctest --test-dir "$build" -N | sed -n 's/^ *Test *#[0-9]*: //p'); do
    out=$build/test-results/$name
    rc=$(cat "$out.rc" 2>/dev/null || echo "no exit code (timed out?)")
    totals=$(grep -m1 '^Totals:' "$out.txt" 2>/dev/null | cut -d, -f1-3)
    printf '%s %-15s %s\n' "$([ "$rc" = 0 ] && echo PASS || echo FAIL)" "$name" \
        "${totals:-no totals} (exit $rc)"
    [ "$rc" = 0 ] || awk '/^FAIL!/ { f = 1 } f { print "        " $0 } f && /failure location/ { exit }' \
        "$out.txt" 2>/dev/null
done

# -------------------------------------------------------------- installer
installer_check() {
    local port file setup n rc val
    app_pid="" xvfb_pid=""
    fail() { echo "FAIL $*"; exit 1; }
    ok() { echo "ok   $*"; }
    reg() { wine reg "$@" 2>/dev/null | tr -d '\r'; }
    udp_bound() { grep -qi "$(printf ':%04X ' "$1")" /proc/net/udp /proc/net/udp6; }
    trap 'kill $app_pid $xvfb_pid 2>/dev/null; wineserver -k 2>/dev/null' EXIT
    for n in $(seq 90 99); do [ -e "/tmp/.X$n-lock" ] || break; done
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"

    setup=$(ls "$build"/Scalvanto-*-win64-setup.exe) || fail "no installer in $build"
    rm -rf "$build/wine-install" && use_prefix "$build/wine-install"
    local c=$WINEPREFIX/drive_c
    local dir="$c/Program Files/Scalvanto" link="$c/ProgramData/Microsoft/Windows/Start Menu/Programs/Scalvanto.lnk"
    local uninst='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Scalvanto'
    local options='HKCU\Software\Ponderix' run='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'

    wine "$setup" /S && wineserver -w || fail "$(basename "$setup") /S"
    [ -f "$dir/Trelvant.exe" ] && [ -f "$dir/platforms/qwindows.dll" ] && ok "installed into Program Files" ||
        fail "no $dir/Trelvant.exe"
    [ -f "$link" ] && ok "Start-menu entry Scalvanto" || fail "no $link"
    for v in DisplayName DisplayIcon Publisher DisplayVersion UninstallString; do
        val=$(reg query "$uninst" /v "$v" | sed -n "s/^ *$v *REG_SZ *//p")
        [ -n "$val" ] && ok "uninstall key: $v = $val" || fail "uninstall key lacks $v"
    done

    port=$((20000 + RANDOM % 20000))
    while udp_bound $port; do port=$((port + 1)); done
    reg add "$options" /v UdpPort /t REG_DWORD /d "$port" /f >/dev/null
    reg add "$options" /v Language /d English /f >/dev/null
    wine "$dir/Trelvant.exe" >"$build/test-results/installed-Trelvant.log" 2>&1 &
    app_pid=$!
    for _ in $(seq 300); do
        udp_bound $port && break
        kill -0 "$app_pid" 2>/dev/null || fail "Trelvant.exe ended at start-up"
        sleep 0.1
    done
    ok "Trelvant.exe listens on UDP port $port"
    "$linux/tools/scale-sim/scale-sim" --example --host 127.0.0.1 --port "$port" >/dev/null ||
        fail "scale-sim --example"
    for _ in $(seq 100); do
        file=$(find "$c/users" -path "*/WeightData/$(date +%d.%m.%Y)/data_1.txt" 2>/dev/null)
        [ -n "$file" ] && break
        sleep 0.1
    done
    [ -n "$file" ] || fail "no WeightData/$(date +%d.%m.%Y)/data_1.txt"
    # The English header (seeded above), then the record; CR LF line ends.
    expected() {
        printf '%s\r\n' "# Format of the data in message transfered by scales Massa-K in mode On-Line" "" \
            "# Transaction number" "# Record status" "# Transaction date and time" "# Group number" \
            "# Number of scales" "# Operator number" "# PLU of the goods" "# Goods price" \
            "# Weight of the goods" "" "" "1234;0;5.12.2011 14:3:9;2;00017;3;105;4590;1250;"
    }
    cmp <(expected) "$file" && ok "${file#"$c/"} holds the expected $(stat -c %s "$file") bytes" ||
        fail "${file#"$c/"} differs from the expected bytes"

    wine taskkill /IM Trelvant.exe >/dev/null 2>&1
    for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$app_pid" 2>/dev/null && fail "Trelvant.exe still runs 10 s after taskkill"
    wait "$app_pid"
    rc=$? app_pid=""
    [ "$rc" = 0 ] && ok "Trelvant.exe closed on taskkill, exit code 0" || fail "Trelvant.exe ended with exit code $rc"

    reg query "$run" /v Ponderix | grep -q Ponderix ||
        reg add "$run" /v Ponderix /d "\"C:\\Program Files\\Scalvanto\\Trelvant.exe\"" /f >/dev/null
    wine "$dir/Uninstall.exe" /S && wineserver -w || fail "Uninstall.exe /S"
    [ ! -e "$dir" ] && ok "program folder removed" || fail "left behind: $(find "$dir" | head -5)"
    [ ! -e "$link" ] && ok "Start-menu entry removed" || fail "Start-menu entry still there"
    reg query "$uninst" >/dev/null && fail "uninstall key still there"
    cmp -s <(expected) "$file" && ok "the data file stays" || fail "the data file went"
    reg query "$options" /v UdpPort | grep -q UdpPort && ok "HKCU\\Software\\Ponderix stays" ||
        fail "the options key went"
    reg query "$run" /v Ponderix | grep -q Ponderix && ok "the Run value Ponderix stays" ||
        fail "the Run value went"
    wineserver -k; rm -rf "$WINEPREFIX" "$WINEPREFIX.lock"
}
echo "== the installer"
(installer_check)
installer_rc=$?

[ "$tests_rc" = 0 ] && [ "$installer_rc" = 0 ] && echo "windows-test: all passed" && exit 0
echo "windows-test: FAILED (test programs: $([ "$tests_rc" = 0 ] && echo passed || echo failed)," \
    "installer: $([ "$installer_rc" = 0 ] && echo passed || echo failed))"
exit 1
