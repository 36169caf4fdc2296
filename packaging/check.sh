#!/usr/bin/env bash
# Builds the Debian package and looks into it, installs it on this machine,
# lets the installed program file the example datagram of scale-sim, first
# as a user's program, then as the service (its unit verified, run as its
# account with the unit's command line and environment), and removes the
# package again: the user's data file and options, and the service's data,
# must stay.
# Meant for a throw-away box or CI, as root or with password-free sudo; the
# machine is left without the package, even one that was installed before.
#
#   bash packaging/check.sh [BUILD_DIR]        (make package-check)
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
. "$src/tools/check-lib.sh"
build=$(cd "${1:-$src/build}" && pwd)
sudo=()
[ "$(id -u)" = 0 ] || sudo=(sudo -n)
"${sudo[@]}" true || { echo "package-check installs a package: run it as root or with password-free sudo" >&2; exit 1; }
apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -y -q -o DPkg::Lock::Timeout=600)
# systemd for systemd-analyze; setpriv (util-linux) runs the service as its account.
SCALVO_EXTRA_PACKAGES="dpkg-dev desktop-file-utils systemd util-linux" sh "$src/tools/install-deps.sh"

work=$(mktemp -d)
pid="" installed="" service_pid=""
had_account=$(getent passwd trelvant >/dev/null && echo yes || true)
cleanup() {
    [ -z "$pid" ] || kill "$pid" 2>/dev/null || true
    [ -z "$service_pid" ] || kill "$service_pid" 2>/dev/null || true
    [ -z "$installed" ] || "${apt[@]}" remove trelvant >/dev/null 2>&1 || true
    # An account and data this check made go again.
    if [ -z "$had_account" ] && getent passwd trelvant >/dev/null; then
        "${sudo[@]}" userdel trelvant >/dev/null 2>&1 || true
        "${sudo[@]}" rm -rf /var/lib/trelvant /run/trelvant
    fi
    rm -rf "$work"
}
trap cleanup EXIT

cmake --build "$build" --target Trelvant scale-sim trelvant-sandbox >/dev/null
rm -f "$build"/trelvant_*.deb
(cd "$build" && cpack -G DEB >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; fail "cpack -G DEB"; }
deb=$(echo "$build"/trelvant_*.deb)
files=$(dpkg-deb -c "$deb" | awk '{ print $6 }' | grep -v '/$')
want=(lib/trelvant/{Trelvant,Readme.txt,License.txt} bin/trelvant share/applications/trelvant.desktop
    lib/systemd/system/trelvant.service
    share/man/man1/trelvant.1.gz share/doc/trelvant/{copyright,changelog.gz}
    share/icons/hicolor/{16x16,32x32,48x48,64x64,128x128,256x256}/apps/trelvant.png)
for f in "${want[@]}"; do grep -qx "./usr/$f" <<<"$files" || fail "the package lacks /usr/$f"; done
[ "$(wc -l <<<"$files")" = ${#want[@]} ] || fail "the package holds more than the program: $files"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 adduser; do
    grep -qw "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
! grep -qi 5compat <<<"$depends" || fail "Depends names Qt5Compat: $depends"
ok "$(basename "$deb"): its ${#want[@]} files, Depends: $depends"

[ -z "$(dpkg-query -W -f='${Version}' trelvant 2>/dev/null)" ] || echo "note: trelvant was installed; it is replaced, then removed"
installed=1
"${apt[@]}" install --reinstall "$deb" >"$work/apt.log" 2>&1 || { tail -20 "$work/apt.log" >&2; fail "apt-get install $deb"; }
desktop-file-validate /usr/share/applications/trelvant.desktop || fail "desktop-file-validate trelvant.desktop"
ok "installed; desktop-file-validate accepts the menu entry"

# The installed program, headless, in a sandbox of its own: it files
# scale-sim's example, and SIGTERM ends it with 0.
"$build/tools/sandbox/trelvant-sandbox" --keep --info "$work/info" /usr/bin/trelvant >"$work/trelvant.log" 2>&1 &
sandbox=$!
wait_for test -s "$work/info" || { cat "$work/trelvant.log" >&2; fail "/usr/bin/trelvant does not file datagrams"; }
info() { sed -n "s/^$1 //p" "$work/info"; }
pid=$(info pid) data=$(info data)
"$build/tools/scale-sim/scale-sim" --example --port "$(info port)" >/dev/null
wait_for filed "$data" || { cat -A "$data"/*/* >&2 || true; fail "no data file with the header and the example's line"; }
options=$(cat "$data/../.config/Ponderix.conf")
kill "$pid" && wait "$sandbox" || fail "/usr/bin/trelvant ended with $? on SIGTERM"
pid=""
ok "/usr/bin/trelvant filed the example datagram byte for byte and ended on SIGTERM"

# The service: its unit, its account, and the installed program run as
# systemd would run it (the unit's ExecStart= and Environment=, its state
# and runtime folders), with a free port and English headers.
unit=/usr/lib/systemd/system/trelvant.service
systemd-analyze verify "$unit" >"$work/verify.log" 2>&1 || { cat "$work/verify.log" >&2; fail "systemd-analyze verify $unit"; }
[ "$(systemctl is-enabled trelvant.service 2>/dev/null || true)" != enabled ] || fail "the service is enabled on installing"
[ "$(stat -c %U /var/lib/trelvant)" = trelvant ] || fail "/var/lib/trelvant does not belong to the account trelvant"
ok "$unit: systemd-analyze verify accepts it; off; the account trelvant owns /var/lib/trelvant"
unit_value() { sed -n "s/^$1=//p" "$unit"; }
port=$("$build/tools/sandbox/trelvant-sandbox" --free-port)
as_service=("${sudo[@]}" setpriv --reuid="$(unit_value User)" --regid="$(unit_value Group)" --init-groups)
"${sudo[@]}" install -d -o trelvant -g trelvant -m 0755 /run/trelvant
"${as_service[@]}" sh -c 'mkdir -p "$1" && printf "[General]\nUdpPort=%s\nLanguage=English\n" "$2" >"$1/Ponderix.conf"' \
    - /var/lib/trelvant/.config "$port"
# shellcheck disable=SC2046 # the unit's words, as systemd splits them
"${as_service[@]}" env -i RUNTIME_DIRECTORY=/run/trelvant $(unit_value Environment) $(unit_value ExecStart) \
    2>"$work/service.log" &
service_pid=$!
service_data=/var/lib/trelvant/WeightData
wait_for test -S /run/trelvant/trelvant.socket || { cat "$work/service.log" >&2; fail "the service does not listen"; }
"$build/tools/scale-sim/scale-sim" --example --port "$port" >/dev/null
wait_for filed "$service_data" || { cat "$work/service.log" >&2; fail "the service filed no data file with the example"; }
[ "$(stat -c %U "$(ls "$service_data"/*/data_*.txt | tail -1)")" = trelvant ] || fail "the service's data file is not its account's"
"${sudo[@]}" kill -TERM "$service_pid" && wait "$service_pid" || fail "the service ended with $? on SIGTERM"
service_pid=""
ok "as the account trelvant, with the unit's command line: the example filed in $service_data, SIGTERM ended it with 0"

"${apt[@]}" remove trelvant >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt-get remove trelvant"; }
installed=""
for f in /usr/bin/trelvant /usr/lib/trelvant /usr/share/applications/trelvant.desktop "$unit"; do
    if [ -e "$f" ] || [ -L "$f" ]; then fail "$f is still there after the removal"; fi
done
filed "$data" || fail "the data file changed or went with the package"
[ "$(cat "$data/../.config/Ponderix.conf")" = "$options" ] || fail "the options changed or went with the package"
rm -rf "$(dirname "$data")"
filed "$service_data" || fail "the service's data went with the package"
ok "removed; the data file and the options stay, and the service's data"
