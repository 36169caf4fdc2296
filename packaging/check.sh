#!/usr/bin/env bash
# "A && B || fail" is meant as written; single-quoted $ belong to an inner sh.
# shellcheck disable=SC2015,SC2016
# Builds the Debian package, installs it, runs the installed program on one
# datagram from scale-sim, and removes the package again.
#
#   bash packaging/check.sh [--chroot] [BUILD_DIR]        (make package-check)
#
# Without --chroot the package goes onto this machine with apt-get: meant for
# a throwaway development or CI box, as root or with password-free sudo. The
# check also opens Help > License and Help > Readme from the tray menu on a
# virtual X display (Xvfb, trayer, xdotool) and sees which files the program
# hands to xdg-open.
#
# With --chroot (or SCALVO_PACKAGE_CHECK_CHROOT=1) it installs the package
# instead into a fresh copy of a minimal Debian 12 root made by debootstrap,
# with --no-install-recommends, so the declared dependencies alone must be
# enough; the program then runs inside that root. The first run downloads
# the root from the Debian mirror this machine's apt uses and keeps it under
# $SCALVO_CHROOT_CACHE (default /var/cache/trelvant-check).
#
# Nothing is written to the real user's home or settings: the program runs
# with HOME and XDG_CONFIG_HOME in a temporary folder.
set -euo pipefail

chroot_mode=${SCALVO_PACKAGE_CHECK_CHROOT:-0}
build=""
for arg in "$@"; do
    case $arg in
    --chroot) chroot_mode=1 ;;
    -h | --help)
        sed -n '/^# Builds/,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'
        exit 0
        ;;
    -*)
        echo "unknown option: $arg" >&2
        exit 2
        ;;
    *) build=$arg ;;
    esac
done
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${build:-$src/build}" && pwd)

passed=0
ok() {
    passed=$((passed + 1))
    echo "ok   $*"
}
fail() {
    echo "FAIL $*" >&2
    echo "$passed passed, 1 failed"
    exit 1
}
step() { echo "== $*"; }

# ------------------------------------------------------------------ root
if [ "$(id -u)" = 0 ]; then
    SUDO=()
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
    SUDO=(sudo -n)
else
    echo "package-check installs a package on this machine and needs root:" >&2
    echo "run it as root or give this user password-free sudo." >&2
    exit 1
fi
APT=("${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -y -q -o DPkg::Lock::Timeout=600)

# ------------------------------------------------------------------ tools
extra="dpkg-dev desktop-file-utils"
if [ "$chroot_mode" = 1 ]; then
    extra="$extra debootstrap"
else
    extra="$extra xvfb trayer xdotool"
fi
SCALVO_EXTRA_PACKAGES="$extra" sh "$src/tools/install-deps.sh"

# Everything the program starts or leaves behind, for the cleanup on exit.
work=$(mktemp -d /tmp/trelvant-check.XXXXXX)
chmod 755 "$work"
pids=()
installed_by_us=0
root=""
RUN=()

cleanup() {
    set +e
    for pid in "${pids[@]}"; do
        "${SUDO[@]}" kill -TERM "$pid" 2>/dev/null
    done
    if [ "$installed_by_us" = 1 ]; then
        echo "cleanup: removing the package again"
        if [ -n "$root" ]; then
            "${SUDO[@]}" "${RUN[@]}" apt-get -y -q remove trelvant >/dev/null 2>&1
        else
            "${APT[@]}" remove trelvant >/dev/null 2>&1
        fi
    fi
    if [ -n "$root" ]; then
        "${SUDO[@]}" umount "$root/proc" 2>/dev/null
        if grep -q " $root/" /proc/mounts; then
            echo "cleanup: something is still mounted under $root; left it there" >&2
        else
            "${SUDO[@]}" rm -rf "$root"
        fi
    fi
    "${SUDO[@]}" rm -rf "$work"
}
trap cleanup EXIT

# ------------------------------------------------------------------ build
step "building the package in $build"
cmake --build "$build" --target Trelvant scale-sim -j 2 >/dev/null
sim="$build/tools/scale-sim/scale-sim"
[ -x "$sim" ] || fail "scale-sim is not built ($sim)"
rm -f "$build"/trelvant_*.deb
(cd "$build" && cpack -G DEB >"$work/cpack.log" 2>&1) || {
    cat "$work/cpack.log" >&2
    fail "cpack -G DEB"
}
debs=("$build"/trelvant_*.deb)
[ "${#debs[@]}" = 1 ] && [ -f "${debs[0]}" ] || fail "one trelvant_*.deb in $build"
deb=${debs[0]}
ok "built $(basename "$deb")"

# ------------------------------------------------------------------ package contents
step "package fields and contents"
[ "$(dpkg-deb -f "$deb" Package)" = trelvant ] || fail "Package: trelvant"
[ "$(dpkg-deb -f "$deb" Version)" = 1.0 ] || fail "Version: 1.0"
ok "Package: trelvant, Version: 1.0"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6; do
    [[ ", $depends," == *", $lib "* || ", $depends," == *", $lib,"* ]] ||
        fail "Depends names $lib (Depends: $depends)"
done
ok "Depends: $depends"
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] && [ -n "$(dpkg-deb -f "$deb" Description)" ] ||
    fail "Maintainer and Description are set"
ok "Maintainer: $(dpkg-deb -f "$deb" Maintainer)"

expected=(
    /usr/lib/trelvant/Trelvant
    /usr/lib/trelvant/Readme.txt
    /usr/lib/trelvant/License.txt
    /usr/bin/trelvant
    /usr/share/applications/trelvant.desktop
    /usr/share/doc/trelvant/copyright
    /usr/share/doc/trelvant/changelog.gz
    /usr/share/man/man1/trelvant.1.gz)
for size in 16 32 48 64 128 256; do
    expected+=("/usr/share/icons/hicolor/${size}x${size}/apps/trelvant.png")
done
dpkg-deb -c "$deb" >"$work/contents"
for path in "${expected[@]}"; do
    grep -q " \.$path\( ->.*\)\{0,1\}$" "$work/contents" || fail "the package holds $path"
done
ok "the package holds the ${#expected[@]} expected files"
grep -q '^l.* \./usr/bin/trelvant -> \.\./lib/trelvant/Trelvant$' "$work/contents" ||
    fail "/usr/bin/trelvant is a symlink to ../lib/trelvant/Trelvant"
grep -q '^-rwxr-xr-x .* \./usr/lib/trelvant/Trelvant$' "$work/contents" ||
    fail "/usr/lib/trelvant/Trelvant is executable"
ok "/usr/bin/trelvant -> ../lib/trelvant/Trelvant"
if grep -q 'scale-sim\|/usr/include\|\.a$' "$work/contents"; then
    fail "the package holds nothing but the program (found: $(grep 'scale-sim\|/usr/include\|\.a$' "$work/contents"))"
fi
ok "no scale-sim, headers or libraries in the package"
desktop-file-validate "$src/packaging/trelvant.desktop" || fail "desktop-file-validate trelvant.desktop"
ok "desktop-file-validate accepts packaging/trelvant.desktop"

# ------------------------------------------------------------------ helpers

# A UDP port that nothing on this machine listens on.
free_udp_port() {
    local port hex
    for _ in $(seq 1 200); do
        port=$((20000 + RANDOM % 40000))
        hex=$(printf ':%04X ' "$port")
        if ! grep -q "$hex" /proc/net/udp /proc/net/udp6 2>/dev/null; then
            echo "$port"
            return 0
        fi
    done
    return 1
}

udp_bound() {
    grep -q "$(printf ':%04X ' "$1")" /proc/net/udp /proc/net/udp6 2>/dev/null
}

# wait_for SECONDS COMMAND...: polls every 0.1 s until the command succeeds.
wait_for() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}

alive() { "${SUDO[@]}" kill -0 "$1" 2>/dev/null; }

# stop PID: SIGTERM, then a bounded wait for the process to end.
stop() {
    "${SUDO[@]}" kill -TERM "$1" 2>/dev/null || true
    wait_for 10 eval "! alive $1" || {
        "${SUDO[@]}" kill -KILL "$1" 2>/dev/null
        fail "Trelvant ended within 10 s of SIGTERM"
    }
}

# ------------------------------------------------------------------ install
# $host is this machine's view of the installed root, "" for this machine.
host=""
if [ "$chroot_mode" = 1 ]; then
    step "a fresh minimal Debian 12 root"
    cache=${SCALVO_CHROOT_CACHE:-/var/cache/trelvant-check}
    base="$cache/bookworm-minbase"
    if [ ! -f "$base/.complete" ]; then
        mirror=${SCALVO_DEBIAN_MIRROR:-}
        if [ -z "$mirror" ]; then
            mirror=$(cat /etc/apt/sources.list.d/*.sources 2>/dev/null |
                awk '/^URIs:/ && $2 !~ /security/ {print $2; exit}')
        fi
        if [ -z "$mirror" ]; then
            mirror=$(grep -hs '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list |
                awk '$0 !~ /security/ {for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) {print $i; exit}}')
        fi
        [ -n "$mirror" ] || fail "a Debian mirror in this machine's apt sources (or set SCALVO_DEBIAN_MIRROR)"
        echo "debootstrap --variant=minbase bookworm from $mirror (once; kept in $base)"
        "${SUDO[@]}" rm -rf "$base.part"
        "${SUDO[@]}" mkdir -p "$cache"
        "${SUDO[@]}" debootstrap --variant=minbase bookworm "$base.part" "$mirror" >"$work/debootstrap.log" 2>&1 || {
            tail -20 "$work/debootstrap.log" >&2
            fail "debootstrap bookworm"
        }
        "${SUDO[@]}" touch "$base.part/.complete"
        "${SUDO[@]}" mv "$base.part" "$base"
    fi
    root="$cache/run.$$"
    "${SUDO[@]}" cp -a "$base" "$root"
    "${SUDO[@]}" cp /etc/resolv.conf "$root/etc/resolv.conf"
    "${SUDO[@]}" mount -t proc proc "$root/proc"
    RUN=(chroot "$root")
    host=$root
    ok "fresh copy of the Debian 12 root at $root"

    if "${SUDO[@]}" "${RUN[@]}" dpkg-query -W -f='${Status}' libqt6core6 2>/dev/null | grep -q installed; then
        fail "the fresh root holds no Qt before the package comes"
    fi
    "${SUDO[@]}" cp "$deb" "$root/tmp/"
    step "apt-get install --no-install-recommends $(basename "$deb") inside the root"
    "${SUDO[@]}" "${RUN[@]}" apt-get -q update >"$work/apt.log" 2>&1 || {
        cat "$work/apt.log" >&2
        fail "apt-get update inside the root"
    }
    installed_by_us=1
    "${SUDO[@]}" "${RUN[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -y -q --no-install-recommends \
        install "/tmp/$(basename "$deb")" >"$work/apt.log" 2>&1 || {
        tail -30 "$work/apt.log" >&2
        fail "apt-get install of the package into a clean Debian 12 root"
    }
    ok "installed into the clean root with its dependencies ($(grep -c '^Setting up' "$work/apt.log") packages set up)"
else
    step "apt-get install $(basename "$deb") on this machine"
    if dpkg-query -W -f='${Status}' trelvant 2>/dev/null | grep -q 'install ok installed'; then
        echo "note: trelvant $(dpkg-query -W -f='${Version}' trelvant) is installed already; it is replaced and removed at the end"
    fi
    installed_by_us=1
    "${APT[@]}" install "$deb" >"$work/apt.log" 2>&1 || {
        tail -30 "$work/apt.log" >&2
        fail "apt-get install $deb"
    }
    ok "installed"
fi

# ------------------------------------------------------------------ installed files
step "installed files"
"${SUDO[@]}" "${RUN[@]}" dpkg -L trelvant >"$work/listed"
for path in "${expected[@]}"; do
    grep -qx "$path" "$work/listed" || fail "dpkg -L lists $path"
    [ -e "$host$path" ] || fail "$path exists"
done
ok "dpkg -L lists the ${#expected[@]} files and they exist"
[ -L "$host/usr/bin/trelvant" ] && [ "$(readlink "$host/usr/bin/trelvant")" = ../lib/trelvant/Trelvant ] &&
    [ -x "$host/usr/lib/trelvant/Trelvant" ] || fail "/usr/bin/trelvant leads to the executable"
ok "/usr/bin/trelvant leads to /usr/lib/trelvant/Trelvant"
desktop-file-validate "$host/usr/share/applications/trelvant.desktop" ||
    fail "desktop-file-validate on the installed entry"
ok "desktop-file-validate accepts /usr/share/applications/trelvant.desktop"
exec_line=$(grep '^Exec=' "$host/usr/share/applications/trelvant.desktop")
[ "$exec_line" = "Exec=trelvant" ] || fail "the menu entry starts trelvant ($exec_line)"
[ "$("${SUDO[@]}" "${RUN[@]}" sh -c 'PATH=/usr/local/bin:/usr/bin:/bin; command -v trelvant')" = /usr/bin/trelvant ] ||
    fail "trelvant is found on the PATH"
ok "the entry's Exec=trelvant finds /usr/bin/trelvant on the PATH"
if [ -z "$host" ]; then
    ldd /usr/lib/trelvant/Trelvant >"$work/ldd"
    ! grep -q 'not found' "$work/ldd" || fail "every library of the executable is found: $(grep 'not found' "$work/ldd")"
else
    "${SUDO[@]}" "${RUN[@]}" ldd /usr/lib/trelvant/Trelvant >"$work/ldd"
    ! grep -q 'not found' "$work/ldd" || fail "every library of the executable is found: $(grep 'not found' "$work/ldd")"
fi
ok "ldd finds every library of the installed executable"

# ------------------------------------------------------------------ one datagram
# The program's temporary home, as the program sees it ($inside) and as this
# machine sees it ($outside).
inside=/tmp/trelvant-check.$$
outside=$host$inside
if [ -n "$host" ]; then
    "${SUDO[@]}" mkdir -p "$outside"
    "${SUDO[@]}" chmod 777 "$outside"
else
    inside=$work/run
    outside=$inside
fi
mkdir -p "$outside/home" "$outside/config" "$outside/runtime"
chmod 700 "$outside/runtime"
port=$(free_udp_port) || fail "a free UDP port"
printf '[General]\nUdpPort=%s\nFilePath=%s\n' "$port" "$inside/WeightData" >"$outside/config/Ponderix.conf"
cp "$outside/config/Ponderix.conf" "$work/conf.before"

# start_program PLATFORM [VAR=VALUE...]: starts /usr/bin/trelvant with the
# temporary home, sets $pid.
start_program() {
    local platform=$1
    shift
    rm -f "$outside/pid"
    "${SUDO[@]}" "${RUN[@]}" env -i \
        HOME="$inside/home" XDG_CONFIG_HOME="$inside/config" XDG_RUNTIME_DIR="$inside/runtime" \
        PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 QT_QPA_PLATFORM="$platform" "$@" \
        sh -c 'echo $$ >"$0/pid"; exec /usr/bin/trelvant' "$inside" \
        >"$work/trelvant.log" 2>&1 &
    pids+=($!)
    wait_for 10 test -s "$outside/pid" || fail "Trelvant started"
    pid=$(cat "$outside/pid")
    pids+=("$pid")
}

step "the installed program, headless, receives one datagram from scale-sim on port $port"
day_before=$("${SUDO[@]}" "${RUN[@]}" date +%d.%m.%Y)
start_program offscreen
wait_for 15 udp_bound "$port" || {
    cat "$work/trelvant.log" >&2
    fail "Trelvant listens on UDP port $port"
}
ok "Trelvant (pid $pid) listens on UDP port $port"

exe=$("${SUDO[@]}" readlink "/proc/$pid/exe")
[ "$exe" = "$host/usr/lib/trelvant/Trelvant" ] || fail "the running program is /usr/lib/trelvant/Trelvant (is $exe)"
for doc in Readme.txt License.txt; do
    [ -f "$(dirname "$exe")/$doc" ] || fail "$doc lies beside the running executable"
done
ok "started as /usr/bin/trelvant, it runs as /usr/lib/trelvant/Trelvant, the folder (applicationDirPath) that holds Readme.txt and License.txt"

"$sim" --example --port "$port" >"$work/sim.log" 2>&1 || {
    cat "$work/sim.log" >&2
    fail "scale-sim --example --port $port"
}
line='1234;0;5.12.2011 14:3:9;2;00017;3;105;4590;1250;'
data_file=""
find_data() {
    local day
    for day in "$day_before" "$("${SUDO[@]}" "${RUN[@]}" date +%d.%m.%Y)"; do
        if [ -f "$outside/WeightData/$day/data_1.txt" ] &&
            grep -qF "$line" "$outside/WeightData/$day/data_1.txt"; then
            data_file="$outside/WeightData/$day/data_1.txt"
            return 0
        fi
    done
    return 1
}
wait_for 10 find_data || {
    find "$outside/WeightData" -type f -exec sh -c 'echo "--- $1"; cat -A "$1"' _ {} \; >&2 2>/dev/null || true
    cat "$work/trelvant.log" >&2
    fail "WeightData/<today>/data_1.txt holds $line"
}
ok "${data_file#"$outside/"} holds $line"
alive "$pid" || fail "Trelvant still runs after the datagram"
stop "$pid"
ok "Trelvant ended on SIGTERM"

# ------------------------------------------------------------------ Help > License, Help > Readme
if [ -z "$host" ]; then
    step "Help > License and Help > Readme from the tray menu on a virtual display"
    display=""
    for n in $(seq 90 199); do
        if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
            display=":$n"
            break
        fi
    done
    [ -n "$display" ] || fail "a free X display number"
    Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    wait_for 10 env DISPLAY="$display" xdotool getdisplaygeometry >/dev/null 2>&1 ||
        fail "Xvfb on $display"
    DISPLAY=$display trayer --edge top --align right --widthtype request --height 32 \
        --SetDockType true --transparent false --tint 0x808080 >"$work/trayer.log" 2>&1 &
    pids+=($!)
    sleep 1

    # xdg-open, as Qt calls it to open a file, only notes what it was given.
    mkdir -p "$work/fakebin"
    printf '#!/bin/sh\nprintf "%%s\\n" "$*" >>"%s"\n' "$work/opened.log" >"$work/fakebin/xdg-open"
    chmod 755 "$work/fakebin/xdg-open"
    : >"$work/opened.log"
    # Started like start_program, with the stand-in first on the PATH.
    rm -f "$outside/pid"
    env -i HOME="$inside/home" XDG_CONFIG_HOME="$inside/config" XDG_RUNTIME_DIR="$inside/runtime" \
        PATH="$work/fakebin:/usr/local/bin:/usr/bin:/bin" LANG=C.UTF-8 DISPLAY="$display" \
        sh -c 'echo $$ >"$0/pid"; exec /usr/bin/trelvant' "$inside" >"$work/trelvant-x.log" 2>&1 &
    pids+=($!)
    wait_for 10 test -s "$outside/pid" || fail "Trelvant started on $display"
    pid=$(cat "$outside/pid")
    pids+=("$pid")
    wait_for 15 udp_bound "$port" || fail "Trelvant started on $display"
    wait_for 10 sh -c "DISPLAY=$display xdotool search --class Trelvant >/dev/null 2>&1" ||
        fail "the tray icon appears"
    sleep 1

    # The tray menu: Options, Help >, Quit; Help: About Qt, About, License, Readme.
    open_help_item() { # $1: Down presses inside the Help menu, $2: file expected
        for _ in 1 2 3; do
            DISPLAY=$display xdotool mousemove 788 16 click 3
            sleep 0.7
            # shellcheck disable=SC2046
            DISPLAY=$display xdotool key Down Down Right $(printf 'Down %.0s' $(seq 1 "$1")) Return
            if wait_for 5 grep -q "$2" "$work/opened.log"; then
                return 0
            fi
            DISPLAY=$display xdotool key Escape Escape Escape
            sleep 0.5
        done
        return 1
    }
    open_help_item 2 License.txt || {
        cat "$work/trelvant-x.log" >&2
        fail "Help > License hands a file to xdg-open"
    }
    open_help_item 3 Readme.txt || fail "Help > Readme hands a file to xdg-open"
    for doc in License.txt Readme.txt; do
        url=$(grep "$doc" "$work/opened.log" | head -1)
        [ "$url" = "file:///usr/lib/trelvant/$doc" ] || fail "Help opens file:///usr/lib/trelvant/$doc (opened: $url)"
        [ -f "/usr/lib/trelvant/$doc" ] || fail "/usr/lib/trelvant/$doc exists"
        cmp -s "/usr/lib/trelvant/$doc" "$src/dist/$doc" || fail "/usr/lib/trelvant/$doc is dist/$doc"
    done
    ok "Help > License opens file:///usr/lib/trelvant/License.txt, Help > Readme file:///usr/lib/trelvant/Readme.txt; both are there"
    stop "$pid"
fi

# ------------------------------------------------------------------ remove
step "apt-get remove trelvant"
if [ -n "$host" ]; then
    "${SUDO[@]}" "${RUN[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -y -q remove trelvant >"$work/apt.log" 2>&1 ||
        fail "apt-get remove trelvant"
else
    "${APT[@]}" remove trelvant >"$work/apt.log" 2>&1 || fail "apt-get remove trelvant"
fi
installed_by_us=0
if "${SUDO[@]}" "${RUN[@]}" dpkg-query -W -f='${Status}' trelvant 2>/dev/null | grep -q 'ok installed'; then
    fail "trelvant is no longer installed"
fi
for path in "${expected[@]}" /usr/lib/trelvant /usr/share/doc/trelvant; do
    [ ! -e "$host$path" ] && [ ! -L "$host$path" ] || fail "$path is gone after the removal"
done
ok "the package and all its files are gone"
[ -f "$data_file" ] && grep -qF "$line" "$data_file" || fail "the data file stays after the removal"
cmp -s "$outside/config/Ponderix.conf" "$work/conf.before" || fail "the settings stay after the removal"
ok "the user's data file and settings stay"

echo "$passed passed, 0 failed"
