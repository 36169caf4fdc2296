# The wine environment every Windows run here shares; sourced, not run.
#
#   winpath PATH                  the Linux PATH as wine's drive Z: sees it
#   use_prefix PREFIX [FOLDER]... WINEPREFIX, made once (wineboot takes a
#                                 while), with the FOLDERs on wine's PATH,
#                                 where Windows looks for DLLs
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
winpath() { echo "Z:${1//\//\\}"; }
use_prefix() {
    export WINEPREFIX=$1
    shift
    local path="" folder
    for folder in "$@"; do path="$path${path:+;}$(winpath "$folder")"; done
    export WINEPATH=$path
    # Test programs run side by side may share a prefix: one makes it.
    flock "$WINEPREFIX.lock" sh -c '[ -d "$WINEPREFIX" ] || wineboot -i' >/dev/null 2>&1
}
