# Two commands do everything on a fresh Debian/Ubuntu machine:
#   make run    installs what is missing, builds, starts Trelvant
#   make test   installs what is missing, builds, runs every test
BUILD ?= build
JOBS  ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps build run test clean gui-check bench fuzz test-asan package package-check

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
	sh tools/desktop.sh $(BUILD)/tools/screenshots/screenshots docs

# Throughput, CPU cost and memory against a raw receiver (bench/RESULTS.md).
bench: build
	bash bench/run.sh $(BUILD)

# The datagram checks and record rendering under libFuzzer, for a bounded
# time (FUZZ_SECONDS), against a decoder written apart from them; inputs that
# fail are kept in build-fuzz/.
FUZZ_SECONDS ?= 60
fuzz:
	@SCALVO_EXTRA_PACKAGES="clang libclang-rt-14-dev" sh tools/install-deps.sh
	cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug -DSCALVO_FUZZ=ON
	cmake --build build-fuzz --target fuzz-datagram -j $(JOBS)
	mkdir -p build-fuzz/corpus build-fuzz/seeds
	perl -ne 'next if /^#/ || !/\S/; s/\s//g; open(my $$f, ">", "build-fuzz/seeds/" . ++$$n) or die; print $$f pack("H*", $$_)' tests/fuzz/seeds.hex
	build-fuzz/tests/fuzz-datagram -max_total_time=$(FUZZ_SECONDS) -max_len=8192 -artifact_prefix=build-fuzz/ build-fuzz/corpus build-fuzz/seeds

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

clean:
	rm -rf $(BUILD) build-asan build-fuzz
