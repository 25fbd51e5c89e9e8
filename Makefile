# Front door over the CMake presets. Every recipe fails loudly: no step is allowed
# to hide a failure from the one before it.
SHELL := /bin/bash
.SHELLFLAGS := -eu -o pipefail -c
JOBS ?= $(shell nproc)
PRESET ?= release

.PHONY: deps build test demo bench clean

deps:
	./scripts/install-deps.sh

build: deps
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET) -j $(JOBS)

test: build
	ctest --preset $(PRESET) -j $(JOBS)

demo: build
	./build/$(PRESET)/demo/quorvandile-demo build/demo.png
	@echo "Wrote build/demo.png"

bench: build
	./build/$(PRESET)/bench/engine/bench_passes

clean:
	rm -rf build
