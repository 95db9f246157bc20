# Front door. `make test` and `make demo` work from a fresh clone on Debian 12.
SHELL := /bin/bash
BUILD := $(CURDIR)/build
JOBS ?= $(shell nproc)
TW_DEFAULT_SERVER_URL ?= https://updates.tarnwick.example/update/
DEV_KEY_DIR := $(BUILD)/keys
TW_PUBLIC_KEY_FILE ?= $(DEV_KEY_DIR)/public.pem
export WINEPREFIX := $(BUILD)/wineprefix
export WINEDEBUG := -all
# winemenubuilder off: a shortcut the launcher makes must not become a menu entry of the host
export WINEDLLOVERRIDES := mscoree,mshtml=;winemenubuilder.exe=d
PYTEST := /usr/bin/python3 -m pytest
FUZZ_SECONDS ?= 30
# ccache, when the machine has it, makes rebuilds in several checkouts cheap.
ifneq ($(shell command -v ccache),)
export CMAKE_C_COMPILER_LAUNCHER ?= ccache
export CMAKE_CXX_COMPILER_LAUNCHER ?= ccache
export CCACHE_BASEDIR ?= $(abspath $(CURDIR)/..)
endif

.PHONY: all deps build build-win build-host build-sanitize test test-native test-windows \
        test-fuzz test-e2e torture-io torture-gen check-layers demo bench bench-codec bench-render bench-window bench-verify wineprefix clean

all: build

deps:
	@tools/install-deps.sh

# A development key pair, made once; the private key stays in build/.
$(DEV_KEY_DIR)/public.pem:
	@mkdir -p $(DEV_KEY_DIR)
	@umask 077 && openssl ecparam -name prime256v1 -genkey -noout -out $(DEV_KEY_DIR)/private.ec.pem
	@umask 077 && openssl pkcs8 -topk8 -nocrypt -in $(DEV_KEY_DIR)/private.ec.pem -out $(DEV_KEY_DIR)/private.pem
	@rm -f $(DEV_KEY_DIR)/private.ec.pem
	@openssl ec -in $(DEV_KEY_DIR)/private.pem -pubout -out $@ 2>/dev/null
	@echo "made a development key pair in $(DEV_KEY_DIR)"

build: deps build-win build-host

# Each build stage prints one line unless it fails or warns (tools/quiet-stage.sh);
# VERBOSE=1 shows everything. The toolchain file only matters to the first
# configure of a tree: passed again, CMake would warn that it is unused.
STAGE := tools/quiet-stage.sh
WIN_TOOLCHAIN := $(if $(wildcard $(BUILD)/win/CMakeCache.txt),,-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake)

# Also builds build/win/v6/tarnwick.exe: the shipped launcher numbered one
# higher (TW_LAUNCHER_VERSION + 1), which the self-update tests and the demo
# publish as the newer launcher.
build-win: $(TW_PUBLIC_KEY_FILE)
	@$(STAGE) "windows launcher and unit tests" $(BUILD)/logs/build-win.log sh -c '\
	    cmake -S . -B $(BUILD)/win -DTW_TARGET=windows $(WIN_TOOLCHAIN) \
	        -DTW_PUBLIC_KEY_FILE=$(abspath $(TW_PUBLIC_KEY_FILE)) \
	        -DTW_DEFAULT_SERVER_URL="$(TW_DEFAULT_SERVER_URL)" && \
	    cmake --build $(BUILD)/win -j $(JOBS)'

build-host:
	@$(STAGE) "studio tools and benchmarks" $(BUILD)/logs/build-host.log sh -c '\
	    cmake -S . -B $(BUILD)/host -DTW_TARGET=host && cmake --build $(BUILD)/host -j $(JOBS)'

build-sanitize:
	@$(STAGE) "portable tests and fuzzers (sanitizers)" $(BUILD)/logs/build-sanitize.log sh -c '\
	    cmake -S . -B $(BUILD)/sanitize -DTW_TARGET=sanitize -DCMAKE_C_COMPILER=clang \
	        -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug && \
	    cmake --build $(BUILD)/sanitize -j $(JOBS)'

# One Wine prefix for all tests, created once (the first start takes ~10 s).
wineprefix: $(WINEPREFIX)/.ready
$(WINEPREFIX)/.ready:
	@mkdir -p $(WINEPREFIX)
	@wineboot -i >/dev/null 2>&1 || true
	@wineserver -w || true
	@touch $@

# The include floors first: they take a second and need no build.
test: check-layers build build-sanitize wineprefix
	@$(MAKE) --no-print-directory test-native test-windows test-fuzz test-e2e

test-native:
	@echo "== portable unit tests (native, ASan + UBSan)"
	@cd $(BUILD)/sanitize && ctest --output-on-failure

test-windows: wineprefix
	@echo "== unit tests under Wine"
	@cd $(BUILD)/win && ctest --output-on-failure

test-fuzz:
	@echo "== fuzzing ($(FUZZ_SECONDS) s per target, twice that for the JSON reader)"
	@tools/run-fuzzers.sh $(BUILD)/sanitize $(FUZZ_SECONDS)

test-e2e: wineprefix
	@echo "== end-to-end tests under Wine"
	@TW_BUILD=$(BUILD) TW_PRIVATE_KEY=$(DEV_KEY_DIR)/private.pem $(PYTEST) -q tests/e2e

# Every file-system call of a small update made to fail in turn, with the
# checks after each (tests/e2e/io_torture.py); `make test` runs a sample.
# TW_TORTURE_LAYOUT=0 leaves out the files that turn into folders and back.
torture-io: build wineprefix
	@TW_BUILD=$(BUILD) TW_PRIVATE_KEY=$(DEV_KEY_DIR)/private.pem /usr/bin/python3 tests/e2e/io_torture.py

# Generated cases (tests/e2e/torture_gen.py): release pairs, player edits and
# trouble from seeds, with the checks after each case. TW_TORTURE_SEEDS seeds
# (300 by default, eight cases each); SEED=S CASE=K replays one case.
torture-gen: build wineprefix
	@TW_BUILD=$(BUILD) TW_PRIVATE_KEY=$(DEV_KEY_DIR)/private.pem /usr/bin/python3 tests/e2e/torture_gen.py \
	    $(if $(SEED),--seed $(SEED)) $(if $(CASE),--case $(CASE))

demo: build wineprefix
	@TW_BUILD=$(BUILD) TW_PRIVATE_KEY=$(DEV_KEY_DIR)/private.pem /usr/bin/python3 tools/demo.py

# --verify's hashing of the 1 GiB benchmark game against sha256sum.
bench-verify: build wineprefix
	@TW_BUILD=$(BUILD) TW_PRIVATE_KEY=$(DEV_KEY_DIR)/private.pem /usr/bin/python3 bench/verify_bench.py

bench-codec: build-host
	@$(BUILD)/host/bench/bench_codec

# BENCH_OLD=<git revision> runs that revision's launcher beside this one's
# first installs, in turns, in the same run (built once into build/old/); for
# example BENCH_OLD=5517043^1, the tree before the file-call seam.
OLD_LAUNCHER = old=$(if $(BENCH_OLD),$$(tools/build-old-launcher.sh '$(BENCH_OLD)' $(BUILD) $(TW_PUBLIC_KEY_FILE)) || exit 1,)
bench: build wineprefix
	@$(OLD_LAUNCHER); TW_BUILD=$(BUILD) TW_PRIVATE_KEY=$(DEV_KEY_DIR)/private.pem \
	    /usr/bin/python3 bench/update_bench.py $${old:+--old "$$old"}

clean:
	rm -rf $(BUILD)

# Every include runs down the floors (base, then formats/crypto/net/splash,
# then update, then app); reads the sources only, in well under a second.
check-layers:
	@tools/check-layers.sh

# Times the conversion of one decoded 1280x720 NV12 video frame, then one
# splash frame (capsule bar, dark background and scaled video frame) at
# 1920x1080 and 3820x1990 under Wine.
bench-render: build-win wineprefix
	@wine $(BUILD)/win/bench_render.exe

# Frames per second the splash window holds at 1920x1080 under Xvfb, idle and
# while the 1 GiB benchmark game downloads from a loopback server.
bench-window: build wineprefix
	@$(OLD_LAUNCHER); TW_BUILD=$(BUILD) TW_PRIVATE_KEY=$(DEV_KEY_DIR)/private.pem \
	    /usr/bin/python3 bench/window_bench.py $${old:+--old "$$old"}
