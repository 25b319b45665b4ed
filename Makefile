# The two commands a new user types: `make run` and `make test`.
.PHONY: all deps configure build run test test-asan test-tsan test-fuzz fuzz fuzz-build demo pictures bench package format format-check clean

BUILD := build
APP := $(BUILD)/app/tarnwell
CLI := $(BUILD)/cli/tarnwell-cli

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake --preset default >/dev/null

build: configure
	@cmake --build --preset default

# Without a display there is nothing to open: say so in one line, before building anything.
run:
	$(if $(DISPLAY)$(WAYLAND_DISPLAY),,$(error No display to open the window on: try 'make demo' for the command-line report))
	@$(MAKE) --no-print-directory build
	@if [ ! -x $(APP) ]; then echo "The window is not built yet: try 'make demo'."; exit 1; fi
	@$(APP)

test: build
	@scripts/install-deps.sh --test
	@ctest --preset default
	@$(MAKE) --no-print-directory test-asan
	@$(MAKE) --no-print-directory test-tsan
	@$(MAKE) --no-print-directory test-fuzz

# The engine, report and command line again under AddressSanitizer and UBSan.
test-asan: deps
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan
	@ctest --preset asan

# The batch's threads under ThreadSanitizer: only the command line and the batch tests are
# built, and a small site runs four ports at a time.
test-tsan: deps
	@cmake --preset tsan >/dev/null
	@cmake --build --preset tsan
	@ctest --preset tsan

# libFuzzer targets, built with clang under ASan and UBSan.
FUZZ_TARGETS := FuzzRun FuzzFrame FuzzCommandLine FuzzCaptureReader FuzzPcapReader
fuzz-build: deps
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz

# Each target for 10 s from the committed seeds; new inputs go to a scratch folder, not the tree.
test-fuzz: fuzz-build
	@set -e; for t in $(FUZZ_TARGETS); do \
	  mkdir -p build-fuzz/corpus/$$t; \
	  build-fuzz/fuzz/$$t -max_total_time=10 -print_final_stats=1 -artifact_prefix=build-fuzz/ build-fuzz/corpus/$$t fuzz/corpus/$$t 2>build-fuzz/$$t.log \
	    || { tail -40 build-fuzz/$$t.log; exit 1; }; \
	  grep -E "stat::number_of_executed_units|cov:" build-fuzz/$$t.log | tail -2 | sed "s/^/$$t: /"; \
	done

fuzz: fuzz-build
	@set -e; for t in $(FUZZ_TARGETS); do \
	  mkdir -p build-fuzz/corpus/$$t; \
	  build-fuzz/fuzz/$$t -max_total_time=60 -print_final_stats=1 -artifact_prefix=build-fuzz/ build-fuzz/corpus/$$t fuzz/corpus/$$t; \
	done

demo: configure
	@cmake --build --preset default --target tarnwell-cli
	@$(CLI) --tx samples/tx.pcm --rx samples/rx.pcm --out $(BUILD)/demo-out.pcm

# The README's four pictures of the shipped samples, drawn by the command line.
# The views of the shipped samples that the README shows.
VIEWS := echo-path delay-search levels delay-over-time echo-path-by-frequency
pictures: build
	@rm -rf $(BUILD)/pictures
	@$(CLI) --tx samples/tx.pcm --rx samples/rx.pcm --out $(BUILD)/pictures-out.pcm --plots $(BUILD)/pictures >/dev/null
	@for v in $(VIEWS); do cp $(BUILD)/pictures/$$v.png docs/; echo "docs/$$v.png"; done

bench: build
	@for b in $(BUILD)/bench/bench_*; do $$b; done

# The .deb, then lintian on it: any error or warning fails the target.
package: build
	@rm -f $(BUILD)/*.deb
	@cd $(BUILD) && cpack -G DEB
	@if command -v lintian >/dev/null; then \
	  lintian --fail-on error,warning $(BUILD)/*.deb && echo "lintian: no errors, no warnings"; \
	else echo "lintian not found: the package is not checked (scripts/install-deps.sh installs it)"; fi

# The layout of .clang-format over every tracked C++ file: applied, or only reported.
FORMAT_FILES = $(shell git ls-files '*.cpp' '*.h')
format: deps
	@clang-format -i $(FORMAT_FILES)

format-check: deps
	@clang-format --dry-run --Werror $(FORMAT_FILES)

clean:
	@rm -rf $(BUILD) build-asan build-tsan build-fuzz
