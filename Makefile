# Front door over the CMake presets. Every recipe fails loudly: no step is allowed
# to hide a failure from the one before it.
SHELL := /bin/bash
.SHELLFLAGS := -eu -o pipefail -c
JOBS ?= $(shell nproc)
PRESET ?= release

.PHONY: deps build build-windows test test-windows test-sanitizers demo bench fuzz clean

deps:
	./scripts/install-deps.sh

build: deps
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET) -j $(JOBS)

# The Windows plug-in, cross-compiled. Its tests compare its frames with those
# of the $(PRESET) build, so that one is built first.
build-windows: build
	cmake --preset windows -DQV_NATIVE_BUILD_DIR=$(CURDIR)/build/$(PRESET)
	cmake --build --preset windows -j $(JOBS)

# The Windows tests run under Wine. Their Wine session is waited for whether
# they pass or fail, so that nothing is left running.
RUN_WINDOWS_TESTS = ctest --preset windows -j $(JOBS) || { ./scripts/wine-run.sh --stop; exit 1; }; \
	./scripts/wine-run.sh --stop

test: build-windows
	ctest --preset $(PRESET) -j $(JOBS)
	$(RUN_WINDOWS_TESTS)
	JOBS=$(JOBS) ./scripts/test-sanitizers.sh

test-windows: build-windows
	$(RUN_WINDOWS_TESTS)

demo: build
	./build/$(PRESET)/cli/quorvandile demo -o build/contact-sheet.png

# Every test under AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer,
# and the multi-threaded render tests under ThreadSanitizer.
test-sanitizers: deps
	JOBS=$(JOBS) ./scripts/test-sanitizers.sh

bench: build
	./build/$(PRESET)/bench/engine/bench_passes
	./build/$(PRESET)/bench/pipeline/bench_pipeline

# The fuzzers, FUZZ_SECONDS (default 300) each, from the checked-in corpus.
fuzz: deps
	./scripts/fuzz.sh

clean:
	rm -rf build
