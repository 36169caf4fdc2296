#!/bin/sh
# Counts how often a program's main thread wakes while nothing happens: the
# event loop's waits that end, from SETTLE seconds after the start to
# SETTLE + SECONDS. Runs the program in a throw-away home, offscreen.
#
#   tools/wakeups.sh [SECONDS] [SETTLE] -- COMMAND [ARGS...]
set -eu
seconds=30 settle=5
[ "${1:-}" != -- ] && { seconds=$1; shift; }
[ "${1:-}" != -- ] && { settle=$1; shift; }
shift
command -v strace >/dev/null || { echo "wakeups: strace is missing" >&2; exit 77; }
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -p "$home/.config" "$home/service"
export HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_RUNTIME_DIR="$home" \
    RUNTIME_DIRECTORY="$home/service" QT_QPA_PLATFORM=offscreen
timeout -s TERM $((settle + seconds + 2)) strace -f -ttt -e trace=poll,ppoll,epoll_wait \
    -o "$home/trace" "$@" >/dev/null 2>&1 || true
# The main thread is the first one traced. Each wait it begins (a line of
# its own, or one strace leaves unfinished while another thread runs)
# follows a wakeup; the signal that ends the run comes after the window.
awk -v settle="$settle" -v seconds="$seconds" '
    NR == 1 { main = $1; start = $2 }
    $1 == main && $3 ~ /^(poll|ppoll|epoll_wait)\(/ {
        t = $2 - start
        if (t >= settle && t < settle + seconds) n++
    }
    END { print n + 0 }' "$home/trace"
