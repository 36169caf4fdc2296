# Two commands do everything on a fresh Debian/Ubuntu machine:
#   make run    installs what is missing, builds, starts Trelvant
#   make test   installs what is missing, builds, runs every test
BUILD ?= build
JOBS  ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps build run test clean

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

clean:
	rm -rf $(BUILD)
