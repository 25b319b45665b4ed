# The two commands a new user types: `make run` and `make test`.
.PHONY: all deps configure build run test test-asan demo pictures bench package clean

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
	@ctest --preset default
	@$(MAKE) --no-print-directory test-asan

# The engine, report and command line again under AddressSanitizer and UBSan.
test-asan: deps
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan
	@ctest --preset asan

demo: configure
	@cmake --build --preset default --target tarnwell-cli
	@$(CLI) --tx samples/tx.pcm --rx samples/rx.pcm --out $(BUILD)/demo-out.pcm

# The README's three pictures of the shipped samples, drawn by the command line.
pictures: build
	@rm -rf $(BUILD)/pictures
	@$(CLI) --tx samples/tx.pcm --rx samples/rx.pcm --out $(BUILD)/pictures-out.pcm --plots $(BUILD)/pictures >/dev/null
	@cp $(BUILD)/pictures/echo-path.png $(BUILD)/pictures/delay-search.png $(BUILD)/pictures/levels.png docs/
	@echo "docs/echo-path.png docs/delay-search.png docs/levels.png"

bench: build
	@for b in $(BUILD)/bench/bench_*; do $$b; done

package: build
	@cd $(BUILD) && cpack -G DEB

clean:
	@rm -rf $(BUILD) build-asan
