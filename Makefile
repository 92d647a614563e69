# The commands a newcomer types. Each one first installs whatever Debian
# packages are missing (scripts/install-deps.sh), then builds with CMake.

PREFIX ?= /usr/local
DEPS := scripts/install-deps.sh

.PHONY: all deps build run test bench test-sanitize fuzz install package screenshots pictures windows test-windows clean

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

# The Windows program, cross-built here from the same code: the installer
# and the portable zip in build-windows/, with the Windows libraries built
# from Debian's own sources first (scripts/windows-deps.sh).
windows: deps
	@$(DEPS) windows
	@scripts/windows-deps.sh build-windows/deps
	@cmake --preset windows >/dev/null
	@cmake --build --preset windows
	@scripts/windows-package.sh build-windows

# Every Windows test, under Wine, on an X server of its own.
test-windows: windows build
	@scripts/wine-session.sh build-windows/wine ctest --preset windows

clean:
	@rm -rf build build-sanitize build-fuzz build-package build-windows
