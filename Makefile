# Front door over the CMake presets. Every recipe fails loudly: no step is allowed
# to hide a failure from the one before it.
SHELL := /bin/bash
.SHELLFLAGS := -eu -o pipefail -c
JOBS ?= $(shell nproc)
PRESET ?= release
# make install: where (DESTDIR, if given, is put in front of it).
PREFIX ?= /usr/local
# Where make package and make release put what they make.
PACKAGES := build/packages

.PHONY: deps configure tool build build-windows test test-windows test-variant-symbols test-sanitizers demo install \
	package release bench fuzz clean

deps:
	./scripts/install-deps.sh

configure: deps
	cmake --preset $(PRESET)

# The tool and the plug-in library it loads, and nothing else.
tool: configure
	cmake --build --preset $(PRESET) -j $(JOBS) --target Quorvandile quorvandile

# Everything: the tool, the tests and the benchmarks.
build: configure
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

# The check that no instruction-set variant of the passes shares code with
# another object, on a debug build too, where the compiler inlines nothing:
# only the archives it reads are built.
test-variant-symbols: configure
	cmake --preset debug
	cmake --build --preset debug -j $(JOBS) --target quorvandile_engine quorvandile_plugin
	ctest --preset debug -R '^engine\.variant_objects_share_no_symbol$$'

test: build-windows
	ctest --preset $(PRESET) -j $(JOBS)
	$(RUN_WINDOWS_TESTS)
	$(MAKE) test-variant-symbols
	JOBS=$(JOBS) ./scripts/test-sanitizers.sh

test-windows: build-windows
	$(RUN_WINDOWS_TESTS)

demo: tool
	./build/$(PRESET)/cli/quorvandile demo -o build/contact-sheet.png

# The tool in PREFIX/bin, its plug-in in PREFIX/lib/quorvandile, its manual page.
install: tool
	DESTDIR="$(DESTDIR)" cmake --install build/$(PRESET) --prefix "$(PREFIX)"

# The Debian package of what make install installs: $(PACKAGES)/quorvandile_<version>_amd64.deb.
package: tool
	cpack --config build/$(PRESET)/CPackConfig.cmake -B $(PACKAGES)

# The plug-in for the host with its INSTALL.txt, $(PACKAGES)/Quorvandile-<version>-win64.zip,
# and its installer, $(PACKAGES)/Quorvandile-<version>-win64-setup.exe; each with its SHA-256 sum.
release: deps
	cmake --preset windows
	cmake --build --preset windows -j $(JOBS) --target Quorvandile quorvandile_installer
	cpack --config build/windows/CPackConfig.cmake -B $(PACKAGES)
	cp build/windows/packaging/installer/*-setup.exe $(PACKAGES)/
	cd $(PACKAGES) && for setup in *-setup.exe; do sha256sum "$$setup" > "$$setup.sha256"; done

# Every test under AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer,
# and the multi-threaded render tests under ThreadSanitizer.
test-sanitizers: deps
	JOBS=$(JOBS) ./scripts/test-sanitizers.sh

bench: build
	./build/$(PRESET)/bench/engine/bench_passes
	./build/$(PRESET)/bench/pipeline/bench_pipeline

# The fuzzers, from the checked-in corpora, FUZZ_SECONDS (default 300) or FUZZ_RUNS
# executions each (scripts/fuzz.sh).
fuzz: deps
	./scripts/fuzz.sh

clean:
	rm -rf build
