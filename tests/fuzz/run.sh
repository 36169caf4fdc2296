#!/usr/bin/env bash
# Fuzzes the datagram checks and the record rendering with libFuzzer, under
# AddressSanitizer and UndefinedBehaviorSanitizer, for a bounded time.
#
#   bash tests/fuzz/run.sh            (make fuzz)
#
# Every input is compared with a separate decoder (tests/fuzz/datagramcheck.cpp);
# a disagreement, a crash or a sanitizer report stops the run, saves the input
# under build-fuzz/artifacts/ and fails. The corpus grows in build-fuzz/corpus/
# from one run to the next; the seeds (tests/fuzz/seeds.hex, the worked example
# first) are added every time.
#
# Environment: FUZZ_SECONDS (default 60), FUZZ_OUT (default build-fuzz),
#              FUZZ_JOBS (parallel fuzzing processes, default 1).
set -euo pipefail

SRC=$(cd "$(dirname "$0")/../.." && pwd)
cd "$SRC"
OUT=${FUZZ_OUT:-$SRC/build-fuzz}
SECONDS_TO_RUN=${FUZZ_SECONDS:-60}
JOBS=${FUZZ_JOBS:-1}

SCALVO_EXTRA_PACKAGES="clang libclang-rt-14-dev" sh tools/install-deps.sh
CXX=${FUZZ_CXX:-clang++}
command -v "$CXX" >/dev/null || { echo "fuzz: $CXX not found" >&2; exit 1; }

mkdir -p "$OUT/seeds" "$OUT/corpus" "$OUT/artifacts"
BIN=$OUT/fuzz-datagram

# The project's strictness switches (scalvo_warnings), and Qt's demand for
# position-independent code.
FLAGS=(-std=c++17 -g -O1 -fPIC -fno-omit-frame-pointer
       -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
       -Wall -Wextra -Wpedantic -Wshadow
       -DQT_NO_KEYWORDS -DQT_NO_CAST_TO_ASCII -DQT_NO_CAST_FROM_BYTEARRAY
       -DQT_NO_URL_CAST_FROM_STRING -DQT_NO_FOREACH -DQT_USE_QSTRINGBUILDER
       -I"$SRC" -I"$SRC/tests/fuzz")
read -r -a QT_CFLAGS <<<"$(pkg-config --cflags Qt6Core)"
read -r -a QT_LIBS <<<"$(pkg-config --libs Qt6Core)"

SOURCES=(reception/frame.cpp reception/recordline.cpp
         tests/fuzz/datagramcheck.cpp tests/fuzz/fuzz_datagram.cpp)
newest=$(ls -t "${SOURCES[@]}" reception/frame.h reception/recordline.h tests/fuzz/datagramcheck.h | head -1)
if [ ! -x "$BIN" ] || [ "$newest" -nt "$BIN" ] || [ "$0" -nt "$BIN" ]; then
    echo "fuzz: building $BIN"
    "$CXX" "${FLAGS[@]}" "${QT_CFLAGS[@]}" "${SOURCES[@]}" "${QT_LIBS[@]}" -o "$BIN"
fi

# Seeds: one file per hex line of seeds.hex.
n=0
while IFS= read -r line; do
    case $line in '#'* | '') continue ;; esac
    n=$((n + 1))
    printf "$(printf '%s' "$line" | tr -d ' \r' | sed 's/../\\x&/g')" >"$OUT/seeds/seed-$n"
done <tests/fuzz/seeds.hex
echo "fuzz: $n seeds, corpus $(ls "$OUT/corpus" | wc -l) inputs, $SECONDS_TO_RUN s"

export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
args=(-max_total_time="$SECONDS_TO_RUN" -timeout=10 -rss_limit_mb=2048 -max_len=8192
      -use_value_profile=1 -print_final_stats=1 -artifact_prefix="$OUT/artifacts/")
[ "$JOBS" -gt 1 ] && args+=(-fork="$JOBS")
set +e
"$BIN" "${args[@]}" "$OUT/corpus" "$OUT/seeds" >"$OUT/last-run.log" 2>&1
status=$?
set -e
grep -E '^(stat::|Done )' "$OUT/last-run.log" || true
if [ "$status" -ne 0 ]; then
    tail -n 60 "$OUT/last-run.log" >&2
    echo "fuzz: FAILED (exit $status). Full log: $OUT/last-run.log" >&2
    echo "fuzz: inputs that failed: $(ls "$OUT/artifacts" | tr '\n' ' ')" >&2
    echo "fuzz: repeat one with: $BIN $OUT/artifacts/<file>" >&2
    exit 1
fi
echo "fuzz: no crash, no sanitizer report, no disagreement in $SECONDS_TO_RUN s;" \
     "corpus now $(ls "$OUT/corpus" | wc -l) inputs"
