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

# Screenshots of the program on a virtual desktop with a tray (docs/).
gui-check: build
	bash tests/gui/smoke.sh $(BUILD)

# CPU per datagram, zero-loss rate against a bare receiver, balloon storm,
# tray menu during a flood and memory, each beside the revision
# BENCH_BEFORE (built from `git archive` in $(BUILD)/bench-before; empty to
# leave it out); writes bench/RESULTS.md. BENCH_ARGS=--quick for a short run,
# BENCH_ARGS="--parts rate,memory" for some parts (cpu,rate,memory,storm,menu).
BENCH_BEFORE ?= fd54c91
BENCH_ARGS ?=
BEFORE_DIR = $(BUILD)/bench-before
bench: build
	@SCALVO_EXTRA_PACKAGES="valgrind xvfb trayer xdotool x11-utils libxcb1-dev" sh tools/install-deps.sh
	cmake --build $(BUILD) -j $(JOBS) --target bench-driver bench-bare-receiver bench-sender bench_datagram
	@if [ -n "$(BENCH_BEFORE)" ]; then \
	    if [ ! -f $(BEFORE_DIR)/$(BENCH_BEFORE).stamp ]; then \
	        rm -rf $(BEFORE_DIR) && mkdir -p $(BEFORE_DIR)/src && \
	        git archive $(BENCH_BEFORE) | tar -x -C $(BEFORE_DIR)/src && \
	        touch $(BEFORE_DIR)/$(BENCH_BEFORE).stamp || exit 1; \
	    fi; \
	    cp -p bench/CMakeLists.txt bench/bench_datagram.cpp $(BEFORE_DIR)/src/bench/ && \
	    cmake -S $(BEFORE_DIR)/src -B $(BEFORE_DIR)/build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null && \
	    cmake --build $(BEFORE_DIR)/build -j $(JOBS) --target Trelvant bench_datagram || exit 1; \
	fi
	tools/desktop.sh $(BUILD)/bench/bench-driver --build $(BUILD) \
	    $(if $(BENCH_BEFORE),--before $(BEFORE_DIR)/build --before-name $(BENCH_BEFORE)) $(BENCH_ARGS)

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
	cd build-asan && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# A Debian package, and a check that it installs, runs and removes cleanly.
package: build
	cd $(BUILD) && cpack -G DEB

package-check: build
	bash packaging/check.sh $(BUILD)

clean:
	rm -rf $(BUILD) build-asan build-fuzz
