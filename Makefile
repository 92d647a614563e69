# The commands a newcomer types. Each one first installs whatever Debian
# packages are missing (scripts/install-deps.sh), then builds with CMake.

PREFIX ?= /usr/local
DEPS := scripts/install-deps.sh

.PHONY: all deps build run test bench test-sanitize fuzz install package screenshots pictures clean

all: build

deps:
	@$(DEPS)

build: deps
	@cmake --preset default >/dev/null
	@cmake --build --preset default

run: build
	$(if $(DISPLAY)$(WAYLAND_DISPLAY),,$(error Orbitale needs a graphical display, and neither DISPLAY nor WAYLAND_DISPLAY is set))
	@./build/bin/orbitale

test: build
	@ctest --preset default

bench: build
	@$(DEPS) bench
	@bench/bench.sh

test-sanitize: deps
	@$(DEPS) sanitize
	@cmake --preset sanitize >/dev/null
	@cmake --build --preset sanitize
	@ctest --preset sanitize

fuzz:
	@$(DEPS) fuzz
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz --target picture_fuzz
	@scripts/fuzz.sh

install: build
	@cmake --install build --prefix "$(PREFIX)"

package: deps
	@$(DEPS) package
	@scripts/package.sh

# Redraws the six pictures and the icon with our own picture maker, from the
# Earth map its package group installs.
pictures: deps
	@$(DEPS) pictures
	@cmake --preset default >/dev/null
	@scripts/make-pictures.sh

screenshots: build
	@$(DEPS) screenshots
	@tools/screenshots.sh

clean:
	@rm -rf build build-sanitize build-fuzz build-package
