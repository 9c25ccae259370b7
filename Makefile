# The two set-up commands of the README:
#   make run    install what is missing, build, make a sample drive once, start the
#               player playing it (RUN_ARGS replaces what it is given)
#   make test   install what is missing, build, run every test headless, then fuzz the
#               parsers of outside data for FUZZ_SECONDS each
# and, for developers:
#   make bench  build and run every benchmark, printing their "figure ..." lines
#   make build  configure and build only

BUILD_DIR ?= build
JOBS ?= $(shell nproc)
# Each libFuzzer target of the outside-data parsers runs this long in `make test`.
FUZZ_SECONDS ?= 60
CMAKE_FLAGS ?=
SAMPLE_DIR := $(BUILD_DIR)/sample-drive
RUN_ARGS ?= $(SAMPLE_DIR)

# Qt WebEngine refuses to start as root unless its sandbox is off.
ifeq ($(shell id -u),0)
export QTWEBENGINE_DISABLE_SANDBOX := 1
endif

# Tests run on a virtual screen large enough for the 1280 x 720 window in full screen.
XVFB := xvfb-run -a -s "-screen 0 1920x1080x24 -nolisten tcp"

.PHONY: run test bench build deps clean

deps:
	@./scripts/install-deps

build: deps
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	./scripts/make-sample-drive $(SAMPLE_DIR)
	$(BUILD_DIR)/bin/dashcam-player $(RUN_ARGS)

test: build
	cd $(BUILD_DIR) && ../scripts/with-test-services $(XVFB) ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)
	FUZZ_BUILD_DIR=$(abspath $(BUILD_DIR))/fuzz ./scripts/run-fuzzers $(FUZZ_SECONDS)

bench: build
	BUILD_DIR=$(abspath $(BUILD_DIR)) ./scripts/with-test-services $(XVFB) ./scripts/run-benchmarks

clean:
	rm -rf $(BUILD_DIR)
