#!/usr/bin/env bash
# Measures the datagram path of Trelvant and writes bench/RESULTS.md:
#
#   1. throughput: the same paced traffic from scale-sim goes to a raw receiver
#      (socat, copies each datagram to a file) and to Trelvant (headless, with
#      arrival notices off and on), at a rising series of rates, with one and
#      with twenty records per datagram (and one-datagram transfers, where
#      every datagram makes a data file). Loss is counted from the files, and
#      the kernel's own counts (the socket's drops, RcvbufErrors) are shown
#      beside it;
#   2. CPU cost of one datagram through saveMessage: instructions under
#      callgrind (repeatable on a busy machine), wall-clock time and system
#      calls per datagram;
#   3. resident memory of Trelvant at rest and after 1,000,000 datagrams.
#
# Usage: bash bench/run.sh [BUILD_DIR]      (make bench passes its build dir)
#
# Knobs (environment), with their defaults:
#   BENCH_SHAPES="1x100 20x100 1x1"   traffic shapes: records per datagram x
#                          datagrams per transfer (each transfer is a data file)
#   BENCH_RATES_1x100="5000 10000 20000 30000 40000 50000 60000 80000 100000 120000 160000"
#   BENCH_RATES_20x100="2500 5000 7500 10000 15000 20000 30000 40000"
#   BENCH_RATES_1x1="2000 3000 5000 10000 20000"
#                          datagrams/s per shape (BENCH_RATES sets all of them)
#   BENCH_SECONDS=2        seconds of traffic per rate, but at least
#   BENCH_MIN_DATAGRAMS=40000  datagrams, so that the socket's receive buffer
#                          (measured, see the report) cannot hide a slow receiver
#   BENCH_REPEAT=2         runs of each receiver at each rate; a rate counts as
#                          held only if every run lost nothing
#   BENCH_SCALES=8         simulated scales (one source socket each)
#   BENCH_RSS_DATAGRAMS=1000000
#   BENCH_RSS_RATE=        datagrams/s for the memory run; default: half the
#                          highest zero-loss rate measured with notices on,
#                          kept within 5000..40000
#   BENCH_SKIP="throughput cpu memory"   parts to leave out
#   BENCH_RESULTS=bench/RESULTS.md       where the report goes
#   BENCH_PORT=            UDP port on 127.0.0.1 (default: a free one)
set -euo pipefail

SRC=$(cd "$(dirname "$0")/.." && pwd)
cd "$SRC"
BUILD=${1:-build}
case $BUILD in /*) ;; *) BUILD=$SRC/$BUILD ;; esac

rates_for() { # shape -> the rate series
    local var=BENCH_RATES_$1
    if [ -n "${!var:-}" ]; then echo "${!var}"
    elif [ -n "${BENCH_RATES:-}" ]; then echo "$BENCH_RATES"
    else case $1 in
        1x1) echo "2000 3000 5000 10000 20000" ;;
        *x1) echo "500 1000 2000 3000 5000" ;;
        1x*) echo "5000 10000 20000 30000 40000 50000 60000 80000 100000 120000 160000" ;;
        *) echo "2500 5000 7500 10000 15000 20000 30000 40000" ;;
    esac
    fi
}
SHAPES=${BENCH_SHAPES:-"1x100 20x100 1x1"}
SECS=${BENCH_SECONDS:-2}
MIN_DATAGRAMS=${BENCH_MIN_DATAGRAMS:-40000}
REPEAT=${BENCH_REPEAT:-2}
GIVE_UP_PERCENT=30 # a receiver that lost this much at one rate is not tried at higher ones
PACKETS=100 # datagrams per transfer in the shape the goals speak of, and in the memory run
SCALES=${BENCH_SCALES:-8}
RSS_DATAGRAMS=${BENCH_RSS_DATAGRAMS:-1000000}
SKIP=${BENCH_SKIP:-}
RESULTS=${BENCH_RESULTS:-$SRC/bench/RESULTS.md}
STAMP=2024-03-07T08:09:05 # date and time inside the records: same bytes every run
RCVBUF=4194304

LOAD_AT_START=$(cut -d' ' -f1-3 /proc/loadavg)
COMMIT_AT_START=$(git -C "$SRC" rev-parse --short HEAD 2>/dev/null || echo none)
git -C "$SRC" diff --quiet HEAD -- app reception files settings tray 2>/dev/null ||
    COMMIT_AT_START="$COMMIT_AT_START + uncommitted changes to the program"
DATE_AT_START=$(date '+%Y-%m-%d %H:%M %Z')
say() { printf '%s\n' "$*" >&2; }
die() { say "bench: $*"; exit 1; }
skipped() { case " $SKIP " in *" $1 "*) return 0 ;; esac; return 1; }

# ---------------------------------------------------------------- tools
SCALVO_EXTRA_PACKAGES="socat valgrind strace" sh tools/install-deps.sh
for t in socat valgrind; do command -v $t >/dev/null || die "$t is missing"; done

TRELVANT=$BUILD/Trelvant
SIM=$BUILD/tools/scale-sim/scale-sim
DRIVER=$BUILD/bench/savemessage-bench
# make bench builds first; run on its own, build what is measured here.
[ -x "$DRIVER" ] && [ -x "$TRELVANT" ] && [ -x "$SIM" ] ||
    cmake --build "$BUILD" -j 2 --target Trelvant scale-sim savemessage-bench >/dev/null
for f in "$TRELVANT" "$SIM" "$DRIVER"; do [ -x "$f" ] || die "not built: $f"; done

WORK=$(mktemp -d /tmp/scalvo-bench.XXXXXX)
RECEIVER_PID=
cleanup() {
    if [ -n "$RECEIVER_PID" ]; then kill "$RECEIVER_PID" 2>/dev/null || true; wait "$RECEIVER_PID" 2>/dev/null || true; fi
    rm -rf "$WORK"
}
trap cleanup EXIT

# ---------------------------------------------------------------- sockets
port_hex() { printf '%04X' "$1"; }

# "rx_queue drops" of the UDP socket bound to PORT (IPv4 or IPv6 table), or nothing.
socket_stats() {
    local line
    line=$(awk -v p=":$(port_hex "$PORT")" '$2 ~ p"$" { split($5, q, ":"); print q[2], $NF; exit }' \
        /proc/net/udp /proc/net/udp6 2>/dev/null || true)
    [ -n "$line" ] || return 0
    set -- $line
    echo "$((16#$1)) $2"
}

port_in_use() { [ -n "$(socket_stats)" ]; }

# "user system" CPU time of the receiver so far, in clock ticks.
cpu_ticks() { awk '{ sub(/^.*\) /, ""); print $12, $13 }' "/proc/$RECEIVER_PID/stat"; }
TICK_US=$((1000000 / $(getconf CLK_TCK)))

rcvbuf_errors() { awk '/^Udp: [0-9]/ { print $6 }' /proc/net/snmp; }

if [ -n "${BENCH_PORT:-}" ]; then
    PORT=$BENCH_PORT
else
    PORT=$((40000 + $$ % 20000))
    for _ in $(seq 200); do port_in_use || break; PORT=$((PORT + 1)); done
fi
port_in_use && die "UDP port $PORT is taken"

wait_bound() { # [seconds] until the receiver's socket exists, at most 10 s
    for _ in $(seq $((${1:-10} * 20))); do
        port_in_use && return 0
        kill -0 "$RECEIVER_PID" 2>/dev/null || die "receiver exited before binding port $PORT"
        sleep 0.05
    done
    die "receiver did not bind port $PORT within ${1:-10} s"
}

wait_drained() { # until the socket queue stays empty for 0.3 s, at most 20 s
    local quiet=0 s
    for _ in $(seq 400); do
        s=$(socket_stats)
        if [ -n "$s" ] && [ "${s%% *}" = 0 ]; then
            quiet=$((quiet + 1)); [ $quiet -ge 6 ] && return 0
        else
            quiet=0
        fi
        sleep 0.05
    done
    say "bench: socket queue of port $PORT did not drain within 20 s"
}

stop_receiver() {
    kill "$RECEIVER_PID" 2>/dev/null || true
    wait "$RECEIVER_PID" 2>/dev/null || true
    RECEIVER_PID=
}

# Trelvant with a home, options and data folder inside DIR; notices on|off.
start_trelvant() {
    local dir=$1 notices=$2
    mkdir -p "$dir/home/.config" "$dir/data"
    cat >"$dir/home/.config/Ponderix.conf" <<EOF
[General]
FilePath=$dir/data
UdpPort=$PORT
ShowTrayMessage=$notices
AutoLoad=false
Debug=false
Language=English
EOF
    HOME=$dir/home XDG_CONFIG_HOME=$dir/home/.config XDG_RUNTIME_DIR=$dir/home \
        QT_QPA_PLATFORM=offscreen "$TRELVANT" >"$dir/stdout.txt" 2>&1 &
    RECEIVER_PID=$!
    wait_bound
}

start_socat() {
    local dir=$1
    mkdir -p "$dir"
    socat -u "UDP-RECV:$PORT,rcvbuf=$RCVBUF" "OPEN:$dir/raw.bin,creat,append" 2>"$dir/stderr.txt" &
    RECEIVER_PID=$!
    wait_bound
}

trelvant_lines() { # record lines in all data files under DIR
    find "$1" -name 'data_*.txt' -exec cat {} + 2>/dev/null | grep -c $';\r$' || true
}

sim_field() { awk -v k="$1" 'index($0, k) == 1 { sub(/^[^:]*: */, ""); print $1; exit }' "$2"; }

# ---------------------------------------------------------------- machine
machine_facts() {
    local model mem qt cc buildtype
    model=$(lscpu 2>/dev/null | awk -F: '/Model name/ { sub(/^ +/, "", $2); print $2; exit }')
    mem=$(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)
    qt=$(pkg-config --modversion Qt6Core 2>/dev/null || true)
    cc=$(awk -F= '/^CMAKE_CXX_COMPILER:/ { print $2 }' "$BUILD/CMakeCache.txt" 2>/dev/null || true)
    buildtype=$(awk -F= '/^CMAKE_BUILD_TYPE:/ { print $2 }' "$BUILD/CMakeCache.txt" 2>/dev/null || true)
    echo "| CPU | $(nproc) × ${model:-unknown} |"
    echo "| Memory | $mem |"
    echo "| Kernel | $(uname -sr) |"
    echo "| net.core.rmem_max | $(cat /proc/sys/net/core/rmem_max) bytes (caps both receivers' 4 MiB request) |"
    echo "| Load average at start, at end | $LOAD_AT_START; $(cut -d' ' -f1-3 /proc/loadavg) |"
    echo "| Qt | ${qt:-6} |"
    echo "| Compiler, build type | $("${cc:-c++}" --version 2>/dev/null | head -1 || true), ${buildtype:-RelWithDebInfo (the project default)} |"
    echo "| Checkout at start | $COMMIT_AT_START |"
    echo "| Trelvant built | $(date -r "$TRELVANT" '+%Y-%m-%d %H:%M %Z') (make bench builds first; bench/run.sh alone does not) |"
    echo "| Date | $DATE_AT_START (the run took $SECONDS s) |"
}

# ---------------------------------------------------------------- 1. throughput
declare -A LOST ACHIEVED GAVE_UP
THROUGHPUT_ROWS=$WORK/throughput.md
: >"$THROUGHPUT_ROWS"

run_one() { # receiver shape rate
    local receiver=$1 shape=$2 rate=$3 dir=$WORK/run
    local records=${shape%x*} packets=${shape#*x}
    rm -rf "$dir"
    mkdir -p "$dir"
    case $receiver in
        socat) start_socat "$dir" ;;
        notices-off) start_trelvant "$dir" false ;;
        notices-on) start_trelvant "$dir" true ;;
    esac
    sleep 0.2 # let the receiver settle into its event loop

    local count=$((rate * SECS)) transfers
    [ $count -ge "$MIN_DATAGRAMS" ] || count=$MIN_DATAGRAMS
    transfers=$(((count + SCALES * packets / 2) / (SCALES * packets)))
    [ $transfers -ge 1 ] || transfers=1
    local before after stats drops=? written ticks0 ticks
    before=$(rcvbuf_errors)
    ticks0=$(cpu_ticks)
    "$SIM" --port "$PORT" --rate "$rate" --scales "$SCALES" --transfers "$transfers" \
        --packets "$packets" --records "$records" --seed 1 --time "$STAMP" >"$dir/sim.txt" ||
        die "scale-sim failed: $(cat "$dir/sim.txt")"
    wait_drained
    stats=$(socket_stats)
    [ -n "$stats" ] && drops=${stats#* }
    after=$(rcvbuf_errors)
    kill -0 "$RECEIVER_PID" 2>/dev/null || die "$receiver died during the run (rate $rate)"
    ticks="$ticks0 $(cpu_ticks)"
    stop_receiver

    local sent_dg sent_rec achieved
    sent_dg=$(sim_field datagrams: "$dir/sim.txt")
    sent_rec=$(sim_field "records (plu" "$dir/sim.txt")
    achieved=$(sim_field rate: "$dir/sim.txt")
    if [ "$receiver" = socat ]; then
        local size=$((15 + 50 * records)) bytes
        bytes=$(stat -c %s "$dir/raw.bin" 2>/dev/null || echo 0)
        written=$((bytes / size * records))
    else
        written=$(trelvant_lines "$dir/data")
    fi
    local lost=$((sent_rec - written))
    local received=$((written / records)) cpu=-
    [ $received -gt 0 ] && cpu=$(echo "$ticks" | awk -v u=$TICK_US -v n=$received '{
        us = ($3 - $1) * u / n; sy = ($4 - $2) * u / n; printf "%.1f (%.1f + %.1f)", us + sy, us, sy }')
    LOST[$receiver/$shape/$rate]=$((${LOST[$receiver/$shape/$rate]:-0} + lost))
    [ $((lost * 100)) -ge $((sent_rec * GIVE_UP_PERCENT)) ] && [ "$lost" -gt 0 ] && GAVE_UP[$receiver/$shape]=1
    ACHIEVED[$receiver/$shape/$rate]=$achieved
    local pct
    pct=$(awk -v l=$lost -v s=$sent_rec 'BEGIN { printf "%.2f", s ? 100 * l / s : 0 }')
    printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n' "$records × $packets" "$rate" "$receiver" \
        "$achieved" "$sent_dg" "$sent_rec" "$written" "$lost ($pct %)" "$drops" "$((after - before))" "$cpu" \
        | tee -a "$THROUGHPUT_ROWS" >&2
    rm -rf "$dir"
}

# Highest rate of the series up to which every rate lost nothing.
zero_loss_rate() { # receiver shape -> "rate achieved" or "none"
    local best=none r
    for r in $(rates_for "$2"); do
        [ "${LOST[$1/$2/$r]:-x}" = 0 ] || break
        best="$r ${ACHIEVED[$1/$2/$r]}"
    done
    echo "$best"
}

# How many datagrams of a shape the receive buffer holds: Trelvant is stopped
# (SIGSTOP), 30000 datagrams are sent, and whatever was not dropped sits in
# the buffer.
BUFFER_ROWS=$WORK/buffer.md
: >"$BUFFER_ROWS"
buffer_capacity() { # records
    local dir=$WORK/buffer stats
    rm -rf "$dir"
    start_trelvant "$dir" false
    kill -STOP "$RECEIVER_PID"
    "$SIM" --port "$PORT" --rate 50000 --transfers 30000 --records "$1" --seed 2 \
        --time "$STAMP" >/dev/null
    stats=$(socket_stats)
    kill -CONT "$RECEIVER_PID"
    stop_receiver
    rm -rf "$dir"
    set -- "$1" $stats
    printf '| %s | %s | %s |\n' "$1" "$((30000 - $3))" "$2"
}

SUMMARY_ROWS=$WORK/summary.md
: >"$SUMMARY_ROWS"
if ! skipped throughput; then
    for records in $(for sh in $SHAPES; do echo "${sh%x*}"; done | sort -un); do
        buffer_capacity "$records" | tee -a "$BUFFER_ROWS" >&2
    done
    say "bench: throughput on 127.0.0.1:$PORT, $SECS s per rate"
    say "| records × packets | rate/s | receiver | achieved/s | datagrams | records sent | written | lost | socket drops | RcvbufErrors Δ | CPU µs/datagram |"
    for shape in $SHAPES; do
        for rate in $(rates_for "$shape"); do
            for receiver in socat notices-off notices-on; do
                if [ -n "${GAVE_UP[$receiver/$shape]:-}" ]; then
                    printf '| %s | %s | %s | not run: lost %s%% or more at a lower rate | | | | | | | |\n' \
                        "${shape%x*} × ${shape#*x}" "$rate" "$receiver" "$GIVE_UP_PERCENT" |
                        tee -a "$THROUGHPUT_ROWS" >&2
                    LOST[$receiver/$shape/$rate]=skipped
                    continue
                fi
                for _ in $(seq "$REPEAT"); do run_one "$receiver" "$shape" "$rate"; done
            done
        done
    done
    for shape in $SHAPES; do
        top=$(rates_for "$shape"); top=${top##* }
        base=$(zero_loss_rate socat "$shape")
        for receiver in socat notices-off notices-on; do
            z=$(zero_loss_rate "$receiver" "$shape")
            ratio=-
            if [ "$z" != none ] && [ "$base" != none ]; then
                ratio=$(awk -v a="${z%% *}" -v b="${base%% *}" 'BEGIN { printf "%.2f", a / b }')
            elif [ "$base" = none ] && [ "$z" = none ]; then
                ratio="n/a"
            elif [ "$base" = none ]; then
                ratio="> 1"
            else
                ratio=0
            fi
            shown=none
            [ "$z" != none ] && shown="${z%% *} (achieved ${z#* })"
            [ "$z" != none ] && [ "${z%% *}" = "$top" ] && shown="$shown, top of the series"
            [ "$z" != none ] && [ $((${z#* } * 100)) -lt $((${z%% *} * 95)) ] &&
                shown="$shown, sender-limited"
            goal=-
            if [ "$shape" = 1x$PACKETS ] && [ "$receiver" != socat ]; then
                want=1.0; [ "$receiver" = notices-on ] && want=0.8
                goal=$(awk -v r="$ratio" -v w=$want 'BEGIN { print (r + 0 >= w) ? "met (>= " w ")" : "not met (>= " w ")" }')
            fi
            printf '| %s × %s | %s | %s | %s | %s |\n' "${shape%x*}" "${shape#*x}" "$receiver" "$shown" "$ratio" "$goal" >>"$SUMMARY_ROWS"
        done
    done
fi

# ---------------------------------------------------------------- 2. CPU per datagram
CPU_ROWS=$WORK/cpu.md
: >"$CPU_ROWS"
PROFILE_1=$WORK/profile-off.txt
PROFILE_2=$WORK/profile-on.txt
SYSCALL_ROWS=$WORK/syscalls.md
: >"$SYSCALL_ROWS"

# name records packets-per-transfer
CPU_CASES="1-record,mid-transfer:1:1000 1-record,one-datagram-transfers:1:1 20-records,mid-transfer:20:1000"

callgrind_ir() { # outfile -> instructions counted
    awk '/^summary:/ { print $2; exit } /^totals:/ { print $2; exit }' "$1"
}

syscalls_per_datagram() { # hexfile notices-flag -> "name count" lines, per datagram
    local n=2000
    strace -f -o "$WORK/strace.txt" "$DRIVER" --datagrams "$1" --count $n $2 >/dev/null 2>&1
    # Only the calls between the driver's slice markers, that is inside the loop.
    awk -v n=$n '
        /slice-begin/ { on = 1; next }
        /slice-end/ { on = 0; next }
        on && match($2, /^[a-z_0-9]+\(/) { c[substr($2, 1, RLENGTH - 1)]++ }
        END { for (k in c) { v = c[k] / n; if (v >= 0.05) printf "%s %.2f\n", k, v } }' \
        "$WORK/strace.txt" | sort -k2,2nr -k1,1
    rm -f "$WORK/strace.txt"
}

RECEIVER_SYSCALLS=$WORK/receiver-syscalls.md
: >"$RECEIVER_SYSCALLS"

# receiver notices -> "| receiver | notices | total (name count, ...) |"
receiver_syscalls() {
    local receiver=$1 notices=$2 dir=$WORK/trace n=2000 tracee
    rm -rf "$dir"
    mkdir -p "$dir/home/.config" "$dir/data"
    if [ "$receiver" = socat ]; then
        strace -f -o "$dir/trace.txt" socat -u "UDP-RECV:$PORT,rcvbuf=$RCVBUF" \
            "OPEN:$dir/raw.bin,creat,append" 2>/dev/null &
    else
        printf '[General]\nFilePath=%s\nUdpPort=%s\nShowTrayMessage=%s\nAutoLoad=false\nLanguage=English\n' \
            "$dir/data" "$PORT" "$notices" >"$dir/home/.config/Ponderix.conf"
        HOME=$dir/home XDG_CONFIG_HOME=$dir/home/.config XDG_RUNTIME_DIR=$dir/home QT_QPA_PLATFORM=offscreen \
            strace -f -o "$dir/trace.txt" "$TRELVANT" >/dev/null 2>&1 &
    fi
    RECEIVER_PID=$!
    wait_bound
    sleep 0.3
    "$SIM" --port "$PORT" --rate 2000 --packets $n --records 1 --seed 5 --time "$STAMP" >/dev/null
    wait_drained
    # Stopping strace would leave the traced receiver running: stop the receiver.
    tracee=$(pgrep -P "$RECEIVER_PID" | head -1 || true)
    [ -n "$tracee" ] && kill "$tracee" 2>/dev/null
    wait "$RECEIVER_PID" 2>/dev/null || true
    RECEIVER_PID=
    awk -v n=$n -v r="$receiver" -v o="$notices" '
        !on && /"\\370/ { on = 1 }
        on && match($2, /^[a-z_0-9]+\(/) { c[substr($2, 1, RLENGTH - 1)]++; t++ }
        END { s = ""; for (k in c) if (c[k] / n >= 0.05) s = s sprintf("%s%s %.2f", s ? ", " : "", k, c[k] / n);
              printf "| %s | %s | %.1f (%s) |\n", r, o, t / n, s }' "$dir/trace.txt"
    rm -rf "$dir"
}

RECEIVER_INSTRUCTIONS=$WORK/receiver-instructions.md
: >"$RECEIVER_INSTRUCTIONS"

# receiver notices -> "| receiver | notices | instructions per datagram |": the
# whole process under callgrind, counters zeroed once it listens, 2000
# one-record datagrams at 500/s, then dumped.
receiver_instructions() {
    local receiver=$1 notices=$2 dir=$WORK/cgr n=2000 ir
    rm -rf "$dir"
    mkdir -p "$dir/home/.config" "$dir/data"
    if [ "$receiver" = socat ]; then
        valgrind --tool=callgrind --callgrind-out-file="$dir/cg.out" socat -u \
            "UDP-RECV:$PORT,rcvbuf=$RCVBUF" "OPEN:$dir/raw.bin,creat,append" >"$dir/log" 2>&1 &
    else
        printf '[General]\nFilePath=%s\nUdpPort=%s\nShowTrayMessage=%s\nAutoLoad=false\nLanguage=English\n' \
            "$dir/data" "$PORT" "$notices" >"$dir/home/.config/Ponderix.conf"
        HOME=$dir/home XDG_CONFIG_HOME=$dir/home/.config XDG_RUNTIME_DIR=$dir/home QT_QPA_PLATFORM=offscreen \
            valgrind --tool=callgrind --callgrind-out-file="$dir/cg.out" "$TRELVANT" >"$dir/log" 2>&1 &
    fi
    RECEIVER_PID=$!
    wait_bound 60
    sleep 1
    callgrind_control --zero "$RECEIVER_PID" >/dev/null 2>&1
    "$SIM" --port "$PORT" --rate 500 --packets $n --records 1 --seed 6 --time "$STAMP" >/dev/null
    wait_drained
    callgrind_control --dump "$RECEIVER_PID" >/dev/null 2>&1
    stop_receiver
    ir=$(callgrind_ir "$dir/cg.out.1" 2>/dev/null || echo 0)
    printf '| %s | %s | %s |\n' "$receiver" "$notices" "$((ir / n))"
    rm -rf "$dir"
}

if ! skipped cpu; then
    say "bench: instructions per datagram of the whole receiver"
    receiver_instructions socat - | tee -a "$RECEIVER_INSTRUCTIONS" >&2
    receiver_instructions Trelvant false | tee -a "$RECEIVER_INSTRUCTIONS" >&2
    receiver_instructions Trelvant true | tee -a "$RECEIVER_INSTRUCTIONS" >&2
    if command -v strace >/dev/null; then
        say "bench: system calls per datagram of the receivers"
        receiver_syscalls socat - | tee -a "$RECEIVER_SYSCALLS" >&2
        receiver_syscalls Trelvant false | tee -a "$RECEIVER_SYSCALLS" >&2
        receiver_syscalls Trelvant true | tee -a "$RECEIVER_SYSCALLS" >&2
    fi
    say "bench: CPU cost per datagram through saveMessage"
    for spec in $CPU_CASES; do
        name=${spec%%:*}; rest=${spec#*:}; records=${rest%%:*}; packets=${rest#*:}
        hex=$WORK/$records-$packets.hex
        "$SIM" --hex --records "$records" --packets "$packets" --transfers $((2000 / packets + 1)) \
            --seed 3 --time "$STAMP" >"$hex" 2>/dev/null
        for notices in off on; do
            flag=; [ $notices = on ] && flag=--notices
            n=2000
            valgrind --tool=callgrind --collect-atstart=no --callgrind-out-file="$WORK/cg.out" \
                "$DRIVER" --datagrams "$hex" --count $n $flag >"$WORK/cg.stdout" 2>"$WORK/cg.stderr" ||
                die "callgrind run failed: $(tail -5 "$WORK/cg.stderr")"
            ir=$(callgrind_ir "$WORK/cg.out")
            per=$((ir / n))
            profile=
            case $name/$notices in
                1-record,mid-transfer/*) profile=$WORK/profile-1-$notices.txt ;;
                20-records,mid-transfer/off) profile=$WORK/profile-20-off.txt ;;
            esac
            if [ -n "$profile" ]; then
                callgrind_annotate --auto=no --inclusive=yes "$WORK/cg.out" 2>/dev/null |
                    awk -v n=$n -v src="$SRC/" -v min=$((150 * records)) '/^ *[0-9,]+ +\(/ {
                        v = $1; gsub(",", "", v); line = $0
                        sub(/^ *[0-9,]+ +\( *[0-9.]+%\) +/, "", line); sub(/ \[.*\]$/, "", line)
                        sub(/^\?\?\?:/, "", line)
                        if (index(line, src) == 1) line = substr(line, length(src) + 1)
                        fn = line; sub(/^[^:]*:/, "", fn); if (seen[fn]++) next
                        if (v / n >= min) printf "| %d | `%s` |\n", v / n, line }' |
                    grep -v -E 'libc-start|libc_start_call_main|\(below main\)|0x0000|main::\{lambda|savemessage_bench.cpp:main|gravexprobe.h|qt6/QtCore/' |
                    head -25 >"$profile" || true
            fi
            # wall clock: best of three runs of 20000, outside valgrind
            best=
            wall=20000; [ "$packets" = 1 ] && wall=5000 # a file made per datagram is slow
            for _ in 1 2 3; do
                ns=$("$DRIVER" --datagrams "$hex" --count $wall $flag 2>/dev/null |
                    sed -n 's/.*ns_per_datagram=\([0-9.]*\).*/\1/p')
                best=$(awk -v a="${best:-$ns}" -v b="$ns" 'BEGIN { print (b < a ? b : a) }')
            done
            sc=-
            if command -v strace >/dev/null; then
                syscalls_per_datagram "$hex" "$flag" >"$WORK/sc.txt" || true
                sc=$(awk '{ t += $2; s = s (s ? ", " : "") $1 " " $2 } END { printf "%.1f (%s)", t, s }' "$WORK/sc.txt")
            fi
            printf '| %s | %s | %s | %s | %s |\n' "$name" "$notices" "$per" "$best" "$sc" |
                tee -a "$CPU_ROWS" >&2
        done
    done
fi

# ---------------------------------------------------------------- 3. memory
MEM_ROWS=$WORK/memory.md
: >"$MEM_ROWS"
vmrss() { awk '/^VmRSS/ { print $2 }' "/proc/$RECEIVER_PID/status"; }
MEM_SUMMARY=
if ! skipped memory; then
    rss_rate=${BENCH_RSS_RATE:-}
    if [ -z "$rss_rate" ]; then
        z=$(zero_loss_rate notices-on "1x$PACKETS")
        rss_rate=20000
        [ "$z" != none ] && rss_rate=$((${z%% *} / 2))
        [ "$rss_rate" -lt 5000 ] && rss_rate=5000
        [ "$rss_rate" -gt 40000 ] && rss_rate=40000
    fi
    say "bench: resident memory, $RSS_DATAGRAMS datagrams at $rss_rate/s, notices on"
    dir=$WORK/mem
    mkdir -p "$dir"
    start_trelvant "$dir" true
    sleep 2
    rest=$(vmrss)
    printf '| at rest (2 s after start) | 0 | %s | - |\n' "$rest" | tee -a "$MEM_ROWS" >&2
    chunk=$((RSS_DATAGRAMS / 10))
    sent=0 seed=10 first=
    while [ $sent -lt "$RSS_DATAGRAMS" ]; do
        transfers=$(((chunk + SCALES * PACKETS - 1) / (SCALES * PACKETS)))
        "$SIM" --port "$PORT" --rate "$rss_rate" --scales "$SCALES" --transfers "$transfers" \
            --packets "$PACKETS" --records 1 --seed $seed --time "$STAMP" >"$dir/sim.txt"
        sent=$((sent + $(sim_field datagrams: "$dir/sim.txt")))
        seed=$((seed + 1))
        wait_drained
        kill -0 "$RECEIVER_PID" 2>/dev/null || die "Trelvant died during the memory run"
        rss=$(vmrss)
        [ -n "$first" ] || first=$rss
        printf '| after %s datagrams | %s | %s | %+d |\n' "$sent" "$sent" "$rss" $((rss - rest)) |
            tee -a "$MEM_ROWS" >&2
    done
    hwm=$(awk '/^VmHWM/ { print $2 }' "/proc/$RECEIVER_PID/status")
    written=$(trelvant_lines "$dir/data")
    stop_receiver
    MEM_SUMMARY=$(awk -v r="$rest" -v f="$rss" -v w="$first" -v h="$hwm" -v n="$sent" -v wr="$written" 'BEGIN {
        printf "At rest %.1f MiB; after %d datagrams %.1f MiB: %+.2f MiB against rest (goal: within 5 MiB), %+.2f MiB against the figure after the first tenth. Peak %.1f MiB. Records written: %d of %d.",
            r / 1024, n, f / 1024, (f - r) / 1024, (f - w) / 1024, h / 1024, wr, n }')
    say "bench: $MEM_SUMMARY"
    rm -rf "$dir"
fi

# ---------------------------------------------------------------- report
{
    echo "# Datagram path: measured figures"
    echo
    echo "Written by \`make bench\` (\`bash bench/run.sh BUILD_DIR\`). Rerun it after a change"
    echo "to the datagram path and compare; the knobs are listed at the top of"
    echo "\`bench/run.sh\`."
    echo
    echo "## Machine"
    echo
    echo "| | |"
    echo "|---|---|"
    machine_facts
    echo
    echo "Throughput figures on a machine this small are noisy: the sender, the"
    echo "receiver and anything else running share two cores. Instruction counts"
    echo "are the repeatable figure."
    echo
    if ! skipped throughput; then
        echo "## Throughput and loss"
        echo
        echo "The same traffic for every receiver: \`scale-sim --port P --rate R --scales $SCALES"
        echo "--records N --packets M --transfers T --seed 1 --time $STAMP\`, with T chosen"
        echo "for about $SECS s of traffic and at least $MIN_DATAGRAMS datagrams. \"records × packets\" is N × M: records per datagram"
        echo "and datagrams per transfer; every transfer makes one data file, so with"
        echo "one-datagram transfers (× 1) every datagram creates a file. Receivers:"
        echo
        echo "- \`socat\`: \`socat -u UDP-RECV:P,rcvbuf=$RCVBUF OPEN:raw.bin,creat,append\`, the baseline;"
        echo "  records written = size of raw.bin / datagram size × records per datagram."
        echo "- \`notices-off\`, \`notices-on\`: \`QT_QPA_PLATFORM=offscreen Trelvant\` with"
        echo "  ShowTrayMessage false or true in its options file; records written = lines"
        echo "  ending in \";\" CR LF in all data files."
        echo
        echo "\"lost\" = records sent − records written. \"socket drops\" is the drops"
        echo "column of the receiver's socket in /proc/net/udp(6) before it closed;"
        echo "\"RcvbufErrors Δ\" the change of that counter in /proc/net/snmp over the"
        echo "run (it counts the whole machine). \"achieved/s\" is the rate scale-sim"
        echo "reports; where it is below the target the sender itself was the limit."
        echo "\"CPU µs/datagram\" is the receiver's user + system time (each also shown) over the run (from"
        echo "/proc/PID/stat, $TICK_US µs ticks) divided by the datagrams it wrote: the"
        echo "cost of a datagram under load, kernel work included."
        echo
        echo "| records × packets | rate/s | receiver | achieved/s | datagrams | records sent | written | lost | socket drops | RcvbufErrors Δ | CPU µs/datagram |"
        echo "|---|---|---|---|---|---|---|---|---|---|---|"
        cat "$THROUGHPUT_ROWS"
        echo
        echo "The socket's receive buffer absorbs a burst; how much, measured by"
        echo "stopping Trelvant (SIGSTOP) and sending 30000 datagrams (both receivers"
        echo "ask for $RCVBUF bytes; the kernel grants twice that, capped by rmem_max):"
        echo
        echo "| records per datagram | datagrams held | bytes queued |"
        echo "|---|---|---|"
        cat "$BUFFER_ROWS"
        echo
        echo "### Highest rate held with zero loss"
        echo
        echo "The highest rate of the series up to which no rate lost a record. Goals:"
        echo "ratio ≥ 1.0 with notices off and ≥ 0.8 with notices on, for one-record datagrams"
        echo "($PACKETS to a transfer)."
        echo
        echo "| records × packets | receiver | highest zero-loss rate/s | ratio to socat | goal |"
        echo "|---|---|---|---|---|"
        cat "$SUMMARY_ROWS"
        echo
    fi
    if ! skipped cpu; then
        echo "## CPU cost of one datagram through saveMessage"
        echo
        echo "\`savemessage-bench\` builds a headless Gravex (data folder in a temporary"
        echo "folder) and hands it datagrams from \`scale-sim --hex\` through"
        echo "\`GravexProbe::saveMessage\`, with the event loop run between slices of 256."
        echo
        echo "- instructions: \`valgrind --tool=callgrind --collect-atstart=no"
        echo "  savemessage-bench --datagrams F --count 2000 [--notices]\`; only the"
        echo "  loop is counted (the driver toggles collection around it), after 200"
        echo "  warm-up datagrams. User-space instructions only: the kernel's share"
        echo "  is in the system calls column."
        echo "- ns: best of three native runs of 20000 datagrams (5000 for one-datagram"
        echo "  transfers), system calls included; wall clock, so noisy."
        echo "- system calls: \`strace -f\` of a run of 2000 datagrams, counting only the"
        echo "  calls inside the measured loop, divided by 2000."
        echo
        echo "\"mid-transfer\" datagrams are packets of a 1000-packet transfer (the file"
        echo "stays open); \"one-datagram transfers\" open, write the header to and close"
        echo "a data file for every datagram."
        echo
        echo "| datagrams | notices | instructions/datagram | ns/datagram | system calls/datagram |"
        echo "|---|---|---|---|---|"
        cat "$CPU_ROWS"
        echo
        for p in 1-off 1-on 20-off; do
            [ -s "$WORK/profile-$p.txt" ] || continue
            records=${p%-*} notices=${p#*-}
            echo "### Where the instructions go: $records record(s), mid-transfer, notices $notices"
            echo
            echo "Inclusive instructions per datagram (\`callgrind_annotate --inclusive=yes\`),"
            echo "each function once, above $((150 * records)); inlined pieces are left out."
            echo
            echo "| instructions/datagram | function |"
            echo "|---|---|"
            cat "$WORK/profile-$p.txt"
            echo
        done
        if [ -s "$RECEIVER_INSTRUCTIONS" ]; then
            echo "### Instructions per datagram of the whole receiver"
            echo
            echo "Each receiver as a whole (socket, event loop, files, notices) under"
            echo "\`valgrind --tool=callgrind\`; the counters are zeroed once it listens"
            echo "(\`callgrind_control --zero\`), \`scale-sim --rate 500 --packets 2000\`"
            echo "sends 2000 one-record datagrams (one transfer), and the total is divided"
            echo "by 2000. Every datagram wakes the receiver on its own at this rate."
            echo
            echo "| receiver | notices | instructions/datagram |"
            echo "|---|---|---|"
            cat "$RECEIVER_INSTRUCTIONS"
            echo
        fi
        if [ -s "$RECEIVER_SYSCALLS" ]; then
            echo "### System calls per datagram of the whole receiver"
            echo
            echo "Each receiver under \`strace -f\` while \`scale-sim --rate 2000 --packets 2000\`"
            echo "sends 2000 one-record datagrams (one transfer); the calls from the first"
            echo "datagram's arrival on, divided by 2000. At this rate every datagram wakes"
            echo "the receiver on its own; under load the wake-up (poll, select) is shared."
            echo
            echo "| receiver | notices | system calls/datagram |"
            echo "|---|---|---|"
            cat "$RECEIVER_SYSCALLS"
            echo
        fi
    fi
    if ! skipped memory; then
        echo "## Resident memory"
        echo
        echo "Trelvant headless with notices on; \`scale-sim --rate $rss_rate --scales $SCALES"
        echo "--packets $PACKETS --records 1\` in ten slices; VmRSS from /proc/PID/status"
        echo "once the socket queue is empty after each slice."
        echo
        echo "| when | datagrams sent | VmRSS kB | change kB |"
        echo "|---|---|---|---|"
        cat "$MEM_ROWS"
        echo
        echo "$MEM_SUMMARY"
        echo
    fi
    echo "## Commands"
    echo
    echo '```'
    echo "make bench                       # or: bash bench/run.sh BUILD_DIR"
    echo "BENCH_SKIP=\"memory\" make bench   # leave a part out"
    echo "BENCH_SHAPES=1x100 BENCH_RATES=\"40000 50000 60000\" BENCH_SKIP=\"cpu memory\" make bench"
    echo '```'
} >"$RESULTS.tmp"
mv "$RESULTS.tmp" "$RESULTS"
say "bench: wrote $RESULTS"
cat "$RESULTS"
