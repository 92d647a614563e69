#!/usr/bin/env bash
# Builds the Debian package into build-package/ as Debian builds its own: with
# the compiler and linker flags dpkg-buildflags gives (hardening included), and
# reproducibly: the time recorded everywhere is that of the last commit, and
# no path of this checkout is left in the binaries, so that any two builds of
# one commit give the same .deb, byte for byte.
set -euo pipefail
cd "$(dirname "$0")/.."
# The archive records the modes of the files CPack writes, which follow the
# umask: the same for every builder.
umask 022

if [[ -z ${SOURCE_DATE_EPOCH:-} ]]; then
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || true)
    if [[ -z $SOURCE_DATE_EPOCH ]]; then
        echo "package: not a git checkout: set SOURCE_DATE_EPOCH to the release's time" >&2
        exit 1
    fi
fi
export SOURCE_DATE_EPOCH

# dpkg-buildflags maps this folder to "." (-ffile-prefix-map) when run from it.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)

cmake --preset package -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
    -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" -DCMAKE_MODULE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build --preset package
cd build-package
cpack -G DEB
