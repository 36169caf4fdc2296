# Two commands do everything on a fresh Debian/Ubuntu machine:
#   make run    installs what is missing, builds, starts Trelvant
#   make test   installs what is missing, builds, runs every test
BUILD ?= build
JOBS  ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps build run test clean gui-check bench fuzz test-asan package package-check format format-check \
	windows-deps windows windows-test

all: build

deps:
	@sh tools/install-deps.sh

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ] && [ -z "$$QT_QPA_PLATFORM" ]; then \
	    echo "No display: running headless (QT_QPA_PLATFORM=offscreen)"; \
	    QT_QPA_PLATFORM=offscreen $(BUILD)/Trelvant; \
	else \
	    $(BUILD)/Trelvant; \
	fi

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# The pictures in docs/, made by tools/screenshots on a virtual desktop with
# a tray; fails when one cannot be made.
gui-check: build
	cmake --build $(BUILD) -j $(JOBS) --target screenshots
	sh tools/desktop.sh $(BUILD)/tools/screenshots/screenshots docs

# CPU per datagram, zero-loss rates against a bare receiver, memory, balloon
# storm, tray menu during a flood, syncing against eatmydata, start over many
# files and the hand-over to the service; writes bench/RESULTS.md. The bench
# targets are built only here (SCALVO_BENCH). BENCH_ARGS=--quick for a short
# run, BENCH_ARGS="--parts rate,memory" for some parts
# (cpu,rate,memory,storm,menu,sync,start,handover).
BENCH_ARGS ?=
bench: build
	@SCALVO_EXTRA_PACKAGES="valgrind xvfb trayer xdotool x11-utils libxcb1-dev eatmydata" sh tools/install-deps.sh
	cmake -S . -B $(BUILD) -DSCALVO_BENCH=ON
	cmake --build $(BUILD) -j $(JOBS) --target bench-driver bench_datagram bench_day
	tools/desktop.sh $(BUILD)/bench/bench-driver --build $(BUILD) $(BENCH_ARGS)

# The datagram checks and record rendering under libFuzzer, for a bounded
# time (FUZZ_SECONDS), against a decoder written apart from them; inputs that
# fail are kept in build-fuzz/.
FUZZ_SECONDS ?= 60
fuzz:
	@SCALVO_EXTRA_PACKAGES="clang libclang-rt-14-dev" sh tools/install-deps.sh
	cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug -DSCALVO_FUZZ=ON
	cmake --build build-fuzz --target fuzz-datagram tst_fuzzreplay -j $(JOBS)
	mkdir -p build-fuzz/corpus build-fuzz/seeds
	build-fuzz/tests/tst_fuzzreplay --write-seeds build-fuzz/seeds
	build-fuzz/tests/fuzz-datagram -max_total_time=$(FUZZ_SECONDS) -max_len=8192 -artifact_prefix=build-fuzz/ build-fuzz/corpus build-fuzz/seeds

# Every C++ file laid out as .clang-format says; format-check (in CI) fails
# on any difference.
CPP_FILES = $(shell git ls-files '*.cpp' '*.h')
format:
	@SCALVO_EXTRA_PACKAGES=clang-format sh tools/install-deps.sh
	clang-format -i $(CPP_FILES)

format-check:
	@SCALVO_EXTRA_PACKAGES=clang-format sh tools/install-deps.sh
	clang-format --dry-run -Werror $(CPP_FILES)

# Every test again, built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DSCALVO_SANITIZE=ON
	cmake --build build-asan -j $(JOBS)
	cd build-asan && QT_QPA_PLATFORM=offscreen LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	    ctest --output-on-failure -j $(JOBS)

# A Debian package, and a check that it installs, runs and removes cleanly.
# Without dpkg-dev's dpkg-shlibdeps, CPack would leave Depends empty.
package: build
	@SCALVO_EXTRA_PACKAGES=dpkg-dev sh tools/install-deps.sh
	cd $(BUILD) && cpack -G DEB

package-check: build
	bash packaging/check.sh $(BUILD)

# ------------------------------------------------------------------ Windows
# Trelvant.exe cross-built with mingw-w64 against a Windows Qt, packed as a
# ZIP and an installer (makensis), and tested under wine. The Qt is looked
# for in QT_WINDOWS_PREFIX and, when missing there, built into it from
# Debian's source (tools/windows/build-qt.sh, about 22 minutes).
WIN_BUILD ?= build-windows
QT_WINDOWS_PREFIX ?= $(HOME)/.cache/scalvanto/qt6-mingw-6.4.2
WIN_PACKAGES = ninja-build mingw-w64 g++-mingw-w64-x86-64-posix nsis patch xz-utils
WINE_PACKAGES = wine wine64 xvfb

windows-deps:
	@SCALVO_EXTRA_PACKAGES="$(WIN_PACKAGES)" sh tools/install-deps.sh

$(QT_WINDOWS_PREFIX)/lib/cmake/Qt6/Qt6Config.cmake: | windows-deps
	bash tools/windows/build-qt.sh $(QT_WINDOWS_PREFIX)

windows: windows-deps $(QT_WINDOWS_PREFIX)/lib/cmake/Qt6/Qt6Config.cmake
	cmake -G Ninja -S . -B $(WIN_BUILD) -DCMAKE_BUILD_TYPE=Release \
	    -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-x86_64.cmake \
	    -DCMAKE_PREFIX_PATH=$(QT_WINDOWS_PREFIX) -DCMAKE_EXE_LINKER_FLAGS_RELEASE=-s \
	    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/$$(gcc -print-multiarch)/cmake
	cmake --build $(WIN_BUILD) -j $(JOBS)
	rm -rf $(WIN_BUILD)/deploy
	cmake --install $(WIN_BUILD) --component Trelvant --prefix $(WIN_BUILD)/deploy --strip
	cd $(WIN_BUILD) && cpack -G ZIP
	makensis -V2 $(WIN_BUILD)/packaging/scalvanto.nsi

# The test programs under wine, then the installer (install, file one
# datagram sent by the Linux build's scale-sim, close, uninstall).
windows-test: windows build
	@SCALVO_EXTRA_PACKAGES="$(WINE_PACKAGES)" sh tools/install-deps.sh
	bash tests/windows/wine-test.sh $(WIN_BUILD) $(BUILD)

clean:
	rm -rf $(BUILD) build-asan build-fuzz $(WIN_BUILD)
