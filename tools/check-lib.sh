# What the checks of the installed program share (packaging/check.sh and
# tests/windows/wine-test.sh); sourced, not run.
#
#   ok TEXT / fail TEXT           a step's outcome; fail ends the check
#   wait_for COMMAND...           up to 10 s until COMMAND succeeds
#   filed FOLDER                  the newest data file under FOLDER is the
#                                 example's, byte for byte
#   ran LOG COMMAND               wine's trace of process starts in LOG shows
#                                 COMMAND (as it would be typed) was run
src=${src:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
ok() { echo "ok   $*"; }
fail() { echo "FAIL $*" >&2; exit 1; }
wait_for() { local _; for _ in $(seq 100); do "$@" && return 0; sleep 0.1; done; return 1; }
filed() { cmp -s "$src/tests/data/example-english.txt" "$(ls "$1"/*/data_*.txt 2>/dev/null | sort -V | tail -1)"; }
ran() { local line=${2//\\/\\\\}; grep -F -- "${line//\"/\\\"}" "$1" >/dev/null; }
