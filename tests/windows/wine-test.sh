#!/usr/bin/env bash
# The Windows build under wine: every test program, then the installer.
#
#   tests/windows/wine-test.sh BUILD LINUX_BUILD             (make windows-test)
#
# It runs ctest in BUILD (each test under wine, tools/windows/wine-run.sh),
# then installs the setup.exe silently into a fresh prefix, runs the installed Trelvant.exe as users do (Qt's
# Windows platform, on an X display of its own) in the Windows build's
# sandbox with the default data folder, has it file LINUX_BUILD's
# scale-sim --example byte for byte, closes it as Windows asks a program to,
# uninstalls silently, and checks what must go and what must stay.
set -uo pipefail
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
winpath() { echo "Z:${1//\//\\}"; }
# A prefix is made once (wineboot takes a while).
use_prefix() {
    export WINEPREFIX=$1 WINEPATH="$(winpath "$2/deploy");$(winpath "$3")"
    [ -d "$WINEPREFIX" ] || wineboot -i >/dev/null 2>&1
}

build=$(cd "${1:?usage: wine-test.sh BUILD LINUX_BUILD}" && pwd)
linux=$(cd "${2:?usage: wine-test.sh BUILD LINUX_BUILD}" && pwd)
src=$(cd "$(dirname "$0")/../.." && pwd)
rm -rf "$build/wine" "$build/test-results"
echo "== the test programs under wine"
ctest --test-dir "$build" --output-on-failure
tests_rc=$?

echo "== the installer"
(
    fail() { echo "FAIL $*"; exit 1; }
    ok() { echo "ok   $*"; }
    reg() { wine reg "$@" 2>/dev/null | tr -d '\r'; }
    work=$build/installer
    rm -rf "$work" && mkdir -p "$work"
    Xvfb -displayfd 3 -nolisten tcp 3>"$work/display" 2>/dev/null &
    xvfb=$!
    trap 'kill $xvfb 2>/dev/null; wineserver -k 2>/dev/null' EXIT
    until [ -s "$work/display" ]; do sleep 0.1; done
    export DISPLAY=":$(cat "$work/display")"
    use_prefix "$work/wine" "$build" "$build/tools/sandbox"
    dir="$WINEPREFIX/drive_c/Program Files/Scalvanto"
    link="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Scalvanto.lnk"
    uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Scalvanto'
    options='HKCU\Software\Ponderix' run='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'

    # Wine's netsh knows no firewall: its trace of process starts shows that
    # the installer asked for the rule, which is what can be seen here.
    netsh_ran() { grep -F 'system32\\netsh.exe' "$1" | grep -F "firewall $2 rule name=\\\"Scalvanto\\\" program=\\\"C:\\\\Program Files\\\\Scalvanto\\\\Trelvant.exe\\\"$3" >/dev/null; }
    WINEDEBUG=trace+process wine "$build"/Scalvanto-*-win64-setup.exe /S 2>"$work/setup.log" && wineserver -w ||
        fail "setup.exe /S"
    [ -f "$dir/Trelvant.exe" ] && [ -f "$link" ] || fail "no $dir/Trelvant.exe or Start-menu entry"
    for v in DisplayName DisplayIcon Publisher DisplayVersion UninstallString; do
        reg query "$uninstall" /v "$v" | grep -q "$v" || fail "the uninstall key lacks $v"
    done
    ok "installed into Program Files, with a Start-menu entry and an uninstall key"
    netsh_ran "$work/setup.log" add " dir=in action=allow protocol=UDP remoteip=localsubnet profile=any enable=yes" ||
        fail "the installer did not ask netsh for the firewall rule"
    ok "the installer asked netsh for the firewall rule: UDP from the local subnet to Trelvant.exe, every profile"
    # The About box names the libraries the package holds: each is there.
    names=$(sed -n 's/^#define SCALVO_\(QT\|RUNTIME\)_LIBRARIES "\(.*\)"$/\2/p' "$build/generated/shippedlibraries.h" | tr '|' ' ')
    [ -n "$names" ] || fail "no library list in $build/generated/shippedlibraries.h"
    for name in $names; do [ -f "$dir/$name" ] || fail "the About box names $name, which is not installed"; done
    ok "every library the About box names is installed: $names"

    WINEQT_QPA_PLATFORM=windows wine "$build/tools/sandbox/trelvant-sandbox.exe" --keep --option FilePath= \
        --info "$(winpath "$work/info")" 'C:\Program Files\Scalvanto\Trelvant.exe' >"$work/log" 2>&1 &
    sandbox=$!
    for _ in $(seq 300); do [ -s "$work/info" ] && break; sleep 0.1; done
    [ -s "$work/info" ] || { cat "$work/log"; fail "the installed Trelvant.exe files no datagram"; }
    data=$(winepath -u "$(sed -n 's/^data //p' "$work/info" | tr -d '\r')")
    "$linux/tools/scale-sim/scale-sim" --example --port "$(sed -n 's/^port //p' "$work/info" | tr -d '\r')" >/dev/null
    filed() { cmp -s "$src/tests/data/example-english.txt" "$(ls "$data"/*/data_*.txt | sort -V | tail -1)"; }
    for _ in $(seq 100); do filed && break; sleep 0.1; done
    filed && ok "${data#*/dosdevices/}: the example's bytes" || fail "no data file with the example"
    wine taskkill /IM Trelvant.exe >/dev/null 2>&1
    wait $sandbox && ok "Trelvant.exe closed on taskkill with exit code 0" || fail "Trelvant.exe ended with $?"

    reg add "$run" /v Ponderix /d '"C:\Program Files\Scalvanto\Trelvant.exe"' /f >/dev/null
    WINEDEBUG=trace+process wine "$dir/Uninstall.exe" /S 2>"$work/uninstall.log" && wineserver -w ||
        fail "Uninstall.exe /S"
    netsh_ran "$work/uninstall.log" delete "" || fail "the uninstaller did not ask netsh to remove the firewall rule"
    [ ! -e "$dir" ] && [ ! -e "$link" ] && ! reg query "$uninstall" >/dev/null || fail "the uninstaller left the program"
    filed && reg query "$options" /v UdpPort | grep -q UdpPort && reg query "$run" /v Ponderix | grep -q Ponderix ||
        fail "the uninstaller took the data file, the options or the Run value"
    ok "uninstalled; the data file, the options and the Run value stay"
)
installer_rc=$?
[ "$tests_rc" = 0 ] && [ "$installer_rc" = 0 ] && echo "windows-test: all passed" && exit 0
echo "windows-test: FAILED"
exit 1
