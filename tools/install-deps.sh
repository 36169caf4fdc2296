#!/bin/sh
# Installs the Debian packages the build needs, if any is missing.
# As root it runs apt-get itself; otherwise it uses sudo where that works
# without a password, and else prints the one command to run.
set -e
# The tray tests run on a virtual desktop with a real tray (tools/desktop.sh).
PACKAGES="cmake make g++ qt6-base-dev libgl-dev xvfb trayer x11-utils"
[ -n "$SCALVO_EXTRA_PACKAGES" ] && PACKAGES="$PACKAGES $SCALVO_EXTRA_PACKAGES"

missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

command -v apt-get >/dev/null 2>&1 || {
    echo "Missing packages:$missing (no apt-get here: install them by hand)" >&2
    exit 1
}
if [ "$(id -u)" = 0 ]; then
    SUDO=""
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
    SUDO="sudo -n"
else
    echo "Missing packages. Run this once, then try again:" >&2
    echo "    sudo apt-get install -y$missing" >&2
    exit 1
fi
echo "Installing:$missing"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends $missing
