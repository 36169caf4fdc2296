#!/bin/bash
# Cross-builds Qt 6.4.2 qtbase for 64-bit Windows on Debian 12 with mingw-w64,
# from Debian's own qt6-base source package, and installs it into PREFIX.
# `make windows` runs it when it finds no Windows Qt (about 22 minutes on two
# cores); the result is relocatable: CMake finds it wherever it lies.
#
#   tools/windows/build-qt.sh PREFIX [WORKDIR]
#
# Needs qt6-base-dev 6.4.2 (the host tools moc, rcc, uic), mingw-w64,
# g++-mingw-w64-x86-64-posix, cmake and ninja-build. The source comes with
# `apt-get source` from a source index read into WORKDIR, so the machine's
# apt setup needs no deb-src lines and stays as it is. WORKDIR (default
# PREFIX.build) keeps the download for a second try and goes on success.
set -euo pipefail
PREFIX=${1:?usage: build-qt.sh PREFIX [WORKDIR]}
W=${2:-$PREFIX.build}
HERE=$(cd "$(dirname "$0")" && pwd)
TOOLCHAIN=$HERE/../../cmake/mingw-w64-x86_64.cmake
MULTIARCH=$(gcc -print-multiarch)
mkdir -p "$W/src" "$W/apt/lists/partial" "$W/apt/parts" "$W/apt/cache"
echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main" \
    >"$W/apt/sources.list"
APT=(apt-get -q -o Dir::Etc::SourceList="$W/apt/sources.list" -o Dir::Etc::SourceParts="$W/apt/parts"
    -o Dir::State::Lists="$W/apt/lists" -o Dir::Cache="$W/apt/cache")
cd "$W/src"
if [ ! -f qt6-base_6.4.2+dfsg-10.debian.tar.xz ]; then
    "${APT[@]}" update
    "${APT[@]}" source --download-only qt6-base=6.4.2+dfsg-10
fi
QTSRC=$W/qtbase-everywhere-src-6.4.2
rm -rf "$QTSRC" "$W/debian" && tar -C "$W" -xf qt6-base_6.4.2+dfsg.orig.tar.xz
tar -C "$W" -xf qt6-base_6.4.2+dfsg-10.debian.tar.xz
# Debian's upstream security fixes.
for p in cve-2023-32762.diff cve-2023-32763.diff cve-2023-33285.diff cve-2023-24607.patch; do
    patch -d "$QTSRC" -p1 -s < "$W/debian/patches/$p"
done
# Debian's dfsg source drops src/3rdparty/wintab, and with direct2d off QtGui
# lacks the DirectWrite font database: let the Windows platform plugin build
# without both.
patch -d "$QTSRC" -p1 < "$HERE/qt6.4.2-windows-plugin.diff"

rm -rf "$W/qt-build"
cmake -G Ninja -S "$QTSRC" -B "$W/qt-build" \
  -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/$MULTIARCH/cmake \
  -DCMAKE_INSTALL_PREFIX="$PREFIX" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
  -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_openssl=OFF \
  -DINPUT_opengl=no -DFEATURE_opengl=OFF -DFEATURE_vulkan=OFF \
  -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_printsupport=OFF \
  -DFEATURE_direct2d=OFF -DFEATURE_direct2d1_1=OFF \
  -DFEATURE_testlib=ON -DFEATURE_network=ON -DFEATURE_widgets=ON -DFEATURE_gui=ON \
  -DFEATURE_png=ON -DFEATURE_jpeg=ON -DFEATURE_freetype=ON -DFEATURE_harfbuzz=ON \
  -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF \
  -DFEATURE_system_jpeg=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF \
  -DFEATURE_system_doubleconversion=OFF \
  -DFEATURE_zstd=OFF -DFEATURE_icu=OFF -DFEATURE_brotli=OFF -DFEATURE_schannel=ON
nice -n 10 cmake --build "$W/qt-build" --parallel "$(nproc)"
cmake --install "$W/qt-build"
rm -rf "$W"
