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
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/windows/wine-env.sh"
. "$here/../../tools/check-lib.sh"
# The installed program shows its windows on a virtual display of its own
# (wine brings its own tray); the test programs run offscreen.
[ -n "${SCALVO_DESKTOP:-}" ] || exec "$here/../../tools/desktop.sh" --no-tray bash "$0" "$@"

build=$(cd "${1:?usage: wine-test.sh BUILD LINUX_BUILD}" && pwd)
linux=$(cd "${2:?usage: wine-test.sh BUILD LINUX_BUILD}" && pwd)
rm -rf "$build/wine" "$build/test-results"
echo "== the test programs under wine"
ctest --test-dir "$build" --output-on-failure
tests_rc=$?

# What wine's trace of process starts shows of the installer setting a
# folder's owner and rights (wine's icacls only prints what it is asked).
rights_set() {
    ran "$1" "icacls \"$2\" /setowner *S-1-5-32-544 /T /C /L /Q" &&
        ran "$1" "icacls \"$2\" /inheritance:r /grant:r $3 /C /L /Q" &&
        ran "$1" "icacls \"$2\\*\" /reset /T /C /L /Q"
}

echo "== the installer"
(
    reg() { wine reg "$@" 2>/dev/null | tr -d '\r'; }
    work=$build/installer
    rm -rf "$work" && mkdir -p "$work"
    trap 'wineserver -k 2>/dev/null' EXIT
    use_prefix "$work/wine" "$build/deploy" "$build/tools/sandbox"
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
    program_rights='*S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX'
    program_rights_set() { rights_set "$1" "$2" "$program_rights"; }
    program_rights_set "$work/setup.log" 'C:\Program Files\Scalvanto' ||
        fail "the installer did not give the program's folder Program Files' rights"
    ok "the program's folder and all in it: owned by Administrators, users may only read and run it"
    WINEDEBUG=trace+process wine "$build"/Scalvanto-*-win64-setup.exe /S 2>"$work/update.log" && wineserver -w ||
        fail "setup.exe /S over an earlier install"
    program_rights_set "$work/update.log" 'C:\Program Files\Scalvanto' ||
        fail "an update did not repair the program folder's rights"
    ok "an update repairs the rights of the earlier install"
    WINEDEBUG=trace+process wine "$build"/Scalvanto-*-win64-setup.exe /S '/D=C:\Scalvanto' 2>"$work/elsewhere.log" &&
        wineserver -w || fail "setup.exe /S /D=C:\Scalvanto"
    program_rights_set "$work/elsewhere.log" 'C:\Scalvanto' ||
        fail "a program folder outside Program Files kept the rights it inherits"
    wine 'C:\Scalvanto\Uninstall.exe' /S && wineserver -w || fail "Uninstall.exe /S of C:\Scalvanto"
    ok "a program folder outside Program Files gets Program Files' rights"
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
    wait_for filed "$data" && ok "${data#*/dosdevices/}: the example's bytes" || fail "no data file with the example"
    wine taskkill /IM Trelvant.exe >/dev/null 2>&1
    wait $sandbox && ok "Trelvant.exe closed on taskkill with exit code 0" || fail "Trelvant.exe ended with $?"

    reg add "$run" /v Ponderix /d '"C:\Program Files\Scalvanto\Trelvant.exe"' /f >/dev/null
    WINEDEBUG=trace+process wine "$dir/Uninstall.exe" /S 2>"$work/uninstall.log" && wineserver -w ||
        fail "Uninstall.exe /S"
    netsh_ran "$work/uninstall.log" delete "" || fail "the uninstaller did not ask netsh to remove the firewall rule"
    [ ! -e "$dir" ] && [ ! -e "$link" ] && ! reg query "$uninstall" >/dev/null || fail "the uninstaller left the program"
    filed "$data" && reg query "$options" /v UdpPort | grep -q UdpPort && reg query "$run" /v Ponderix | grep -q Ponderix ||
        fail "the uninstaller took the data file, the options or the Run value"
    ok "uninstalled; the data file, the options and the Run value stay"
)
installer_rc=$?

echo "== the service"
(
    reg() { wine reg "$@" 2>/dev/null | tr -d '\r'; }
    sc() { wine sc "$@" 2>/dev/null | tr -d '\r'; }
    work=$build/service
    rm -rf "$work" && mkdir -p "$work"
    use_prefix "$work/wine" "$build/deploy" "$build/tools/sandbox"
    # Wine's service manager ends the services of a prefix with its last
    # ordinary process, unless the server stays.
    wineserver -p
    trap 'wineserver -k 2>/dev/null' EXIT
    port=$("$linux/tools/sandbox/trelvant-sandbox" --free-port)
    options='HKCU\Software\Ponderix'
    reg add "$options" /v UdpPort /t REG_DWORD /d "$port" /f >/dev/null
    reg add "$options" /v Language /d English /f >/dev/null
    # A Scalvanto folder someone made in ProgramData before the install, as a
    # link to a folder of theirs: the installer never writes where it points
    # (Windows moves a link aside itself; wine moves what it points to, and
    # the installer, finding a link still there, stops).
    theirs="$WINEPREFIX/drive_c/users/Public/theirs"
    mkdir -p "$theirs"
    ln -s "$theirs" "$WINEPREFIX/drive_c/ProgramData/Scalvanto"
    wine "$build"/Scalvanto-*-win64-setup.exe /S /SERVICE 2>/dev/null; wineserver -w
    ! find "$theirs" "$WINEPREFIX"/drive_c/ProgramData/Scalvanto.untrusted-* -mindepth 1 2>/dev/null | grep -q . ||
        fail "the installer wrote into a Scalvanto folder linked elsewhere"
    ok "a Scalvanto folder that links elsewhere is not followed"
    rm -rf "$WINEPREFIX/drive_c/ProgramData/Scalvanto" "$WINEPREFIX"/drive_c/ProgramData/Scalvanto.untrusted-* "$theirs"
    WINEDEBUG=trace+process wine "$build"/Scalvanto-*-win64-setup.exe /S /SERVICE 2>"$work/setup.log" && wineserver -w ||
        fail "setup.exe /S /SERVICE"
    service_rights='*S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F *S-1-5-19:(OI)(CI)M *S-1-5-32-545:(OI)(CI)RX'
    rights_set "$work/setup.log" 'C:\ProgramData\Scalvanto' "$service_rights" ||
        fail "the installer did not set the rights of the service's folder"
    ok "the service's folder and all in it: owned by Administrators, LocalService may change it, users may read it"
    # What sc qc would say (wine's sc knows no qc).
    config=$(reg query 'HKLM\SYSTEM\CurrentControlSet\Services\Trelvant')
    grep -q 'ImagePath.*Trelvant.exe" --service' <<<"$config" && grep -q 'Start *REG_DWORD *0x2$' <<<"$config" &&
        grep -q 'ObjectName.*LocalService' <<<"$config" || { echo "$config"; fail "the service is not as asked"; }
    reg query 'HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Trelvant' /v EventMessageFile |
        grep -q 'Trelvant.exe' || fail "no event log source Trelvant"
    ok "the service Trelvant: Trelvant.exe --service, automatic start, LocalService; its event log source"
    # Under wine the installer's own start does not outlive its session.
    sc query Trelvant | grep -q RUNNING || sc start Trelvant >/dev/null
    data="$WINEPREFIX/drive_c/ProgramData/Scalvanto/WeightData"
    wait_for sh -c "ss -uan | grep -q ':$port '"
    "$linux/tools/scale-sim/scale-sim" --example --port "$port" >/dev/null
    wait_for filed "$data" && ok "the service filed the example in C:\\ProgramData\\Scalvanto\\WeightData" ||
        fail "the service filed no example"
    sc stop Trelvant >/dev/null
    for _ in $(seq 100); do sc query Trelvant | grep -q STOPPED && break; sleep 0.1; done
    state=$(sc query Trelvant)
    grep -q STOPPED <<<"$state" && grep -q 'WIN32_EXIT_CODE *: 0 ' <<<"$state" && grep -q 'SERVICE_EXIT_CODE *: 0 ' <<<"$state" ||
        { echo "$state"; fail "the service did not stop with 0"; }
    ok "sc stop: the service stored what it read and stopped with exit code 0"

    # With the service stopped, another program answers on its pipe as the
    # service would (tests/service/intruder.cpp pretend): the tray program
    # sends it nothing, does not take it for the service, and opens the port
    # itself.
    sockets() { [ "$(ss -uan | grep -c ":$port ")" = "$1" ]; }
    files() { ls "$data"/*/data_*.txt 2>/dev/null | wc -l; }
    pretend() { wine "$build/tests/intruder.exe" pretend "$port" >"$1" 2>/dev/null & }
    pretend "$work/impostor.log"
    impostor=$!
    wait_for grep -q listening "$work/impostor.log" || fail "the impostor did not listen"
    WINEQT_QPA_PLATFORM=windows wine "C:\\Program Files\\Scalvanto\\Trelvant.exe" >/dev/null 2>&1 &
    tray=$!
    # Its first start in the prefix takes a while under wine.
    for _ in 1 2 3; do wait_for sockets 1 && break; done
    sockets 1 && ! grep -q written "$work/impostor.log" &&
        ok "a program on the service's pipe that the service manager did not start: the tray program writes nothing to it and receives" ||
        fail "the tray program took a program on the service's pipe for the service"
    kill $impostor 2>/dev/null; wait $impostor 2>/dev/null

    # The service started while the tray program holds the port: the tray
    # program frees it (Windows moves no socket between programs) and the
    # service opens it; what the scales send next is the service's.
    before=$(files)
    sc start Trelvant >/dev/null
    for _ in $(seq 30); do
        "$linux/tools/scale-sim/scale-sim" --example --port "$port" >/dev/null
        sleep 1
        [ "$(files)" -gt "$before" ] && break
    done
    [ "$(files)" -gt "$before" ] && filed "$data" && sockets 1 &&
        ok "started beside a receiving tray program, the service took the port over" ||
        fail "the tray program did not hand the port over to the service"

    # The service stops; an impostor answers on its pipe: the tray program,
    # its window until then, checks again and sends it nothing.
    sc stop Trelvant >/dev/null
    wait_for sockets 0 || fail "the service's socket stayed after it stopped"
    pretend "$work/impostor-after.log"
    impostor=$!
    wait_for grep -q listening "$work/impostor-after.log" || fail "the impostor did not listen"
    sleep 3 # the tray program tries to reconnect every second
    ! grep -q written "$work/impostor-after.log" &&
        ok "after the service stopped, the tray program sent nothing to an impostor on its pipe" ||
        fail "after the service stopped, the tray program wrote to an impostor on its pipe"
    wine taskkill /IM Trelvant.exe >/dev/null 2>&1
    kill $impostor 2>/dev/null
    wait $tray $impostor
    wait_for sockets 0 || fail "the socket stayed after both programs ended"
    for _ in $(seq 100); do sc query Trelvant | grep -q STOPPED && break; sleep 0.1; done

    # A warning goes to the event log (wine shows what is reported when asked).
    reg add "$options" /v FilePath /d 'C:\nowhere\at\all' /f >/dev/null
    WINEDEBUG=warn+eventlog timeout 20 wine "C:\\Program Files\\Scalvanto\\Trelvant.exe" --service 2>"$work/eventlog.log" &
    console=$!
    for _ in $(seq 100); do ss -uan | grep -q ":$port " && break; sleep 0.1; done
    "$linux/tools/scale-sim/scale-sim" --example --port "$port" >/dev/null
    for _ in $(seq 100); do grep -q 'ReportEventW L"Data could not be saved' "$work/eventlog.log" && break; sleep 0.1; done
    kill $console 2>/dev/null; wait $console 2>/dev/null
    grep -q 'ReportEventW L"Data could not be saved' "$work/eventlog.log" ||
        fail "the warning did not reach the event log"
    ok "a warning reached the event log (ReportEventW)"
    reg delete "$options" /v FilePath /f >/dev/null

    wine "$WINEPREFIX/drive_c/Program Files/Scalvanto/Uninstall.exe" /S && wineserver -w || fail "Uninstall.exe /S"
    sc query Trelvant | grep -q RUNNING && fail "the service runs after uninstalling"
    wine reg query 'HKLM\SYSTEM\CurrentControlSet\Services\Trelvant' >/dev/null 2>&1 && fail "the service is still registered"
    filed "$data" || fail "the service's data went with the program"
    ok "uninstalled: the service is gone, its data stays"
)
service_rc=$?
[ "$tests_rc" = 0 ] && [ "$installer_rc" = 0 ] && [ "$service_rc" = 0 ] && echo "windows-test: all passed" && exit 0
echo "windows-test: FAILED"
exit 1
