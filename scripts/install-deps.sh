#!/usr/bin/env bash
# Installs the Debian packages Orbitale needs to build, test and run, and only
# those that are missing. Uses apt-get as root, or through sudo; otherwise it
# names the packages to install and fails.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-translations-l10n qt6-wayland
    libmpfr-dev libgtest-dev libgmock-dev libbenchmark-dev
    libjpeg62-turbo-dev libgif-dev libpng-dev zlib1g-dev libseccomp-dev
    libwebp-dev libtiff-dev libheif-dev libavif-dev libjxl-dev
    fonts-noto-cjk xvfb xauth xdotool x11-utils
    desktop-file-utils libglib2.0-bin appstream strace
    openbox dbus-daemon at-spi2-core python3-pyatspi
    mutter xwayland libxcb1-dev
)
# The test that runs orbit-trace on emulated older processors.
if [[ $(uname -m) == x86_64 ]]; then
    packages+=(qemu-user)
fi
# Debian 13's libheif loads its HEVC and AV1 decoders (and the HEVC encoder
# the tests make their HEIC pictures with) as plugins packaged apart; Debian
# 12's has them built in and has no such packages.
heif_plugins() {
    if apt-cache show libheif-plugin-libde265 >/dev/null 2>&1; then
        echo libheif-plugin-libde265 libheif-plugin-dav1d libheif-plugin-x265
    fi
}
# shellcheck disable=SC2207 # package names have no spaces
packages+=($(heif_plugins))
# LLVM's C library, for the orbit's fast sine and cosine: each LLVM release
# has its own package (Debian 12 has 19 and, through its security archive,
# 22; testing only 21), so take the newest the release offers. Without one
# the orbit uses its portable way alone (src/orbit/CMakeLists.txt).
llvm_libc_package() {
    apt-cache pkgnames libllvmlibc- 2>/dev/null |
        sed -n 's/^libllvmlibc-\([0-9][0-9]*\)-dev$/\1/p' | sort -n | tail -n 1 |
        sed 's/.*/libllvmlibc-&-dev/'
}
# A fresh machine may have no package lists yet, and then knows no LLVM
# release to choose: read them first where we may.
if [[ -z $(apt-cache pkgnames 2>/dev/null | head -n 1) && $(id -u) -eq 0 ]]; then
    apt-get update -q
fi
llvm_libc=$(llvm_libc_package)
if [[ -n $llvm_libc ]]; then
    packages+=("$llvm_libc")
else
    echo "install-deps: no LLVM C library package here; the orbit uses its portable sine and cosine (MPFR)" >&2
fi
# The major version of the clang that Debian's "clang" package brings (14 on
# Debian 12, 19 on Debian 13): its sanitizer runtime and libFuzzer packages
# carry that number.
clang_major() {
    local major
    major=$(apt-cache depends clang 2>/dev/null |
        sed -n 's/^ *Depends: clang-\([0-9][0-9]*\).*/\1/p' | head -n 1)
    if [[ -z "$major" && -r /etc/os-release ]]; then
        case $(. /etc/os-release && echo "${VERSION_ID:-}") in
            12) major=14 ;;
            13) major=19 ;;
        esac
    fi
    echo "$major"
}

# Extra packages for a purpose, named on the command line (e.g. "fuzz").
for extra in "$@"; do
    case "$extra" in
        fuzz)
            packages+=(clang)
            major=$(clang_major)
            if [[ -n "$major" ]]; then
                packages+=("libclang-rt-$major-dev" "libfuzzer-$major-dev")
            else
                echo "install-deps: install clang's sanitizer runtime and libFuzzer too" >&2
            fi
            ;;
        sanitize) ;; # GCC brings its own sanitizers
        pictures) packages+=(xplanet-images) ;;
        screenshots) packages+=(imagemagick) ;;
        bench) packages+=(imagemagick libjpeg-turbo-progs netpbm webp libtiff-tools libheif-examples) ;;
        package) packages+=(dpkg-dev file) ;;
        desktops) packages+=(xfwm4) ;; # a second window manager for the desktop tests
        # The Windows build: the cross compilers and Windows zlib, what
        # scripts/windows-deps.sh builds the other libraries with, Wine to run
        # the tests and what they look at the screen with, and the tools that
        # make the installer (dated by faketime) and read its icon.
        windows)
            packages+=(g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev
                dpkg-dev autoconf automake libtool nasm meson
                wine wine64 x11-apps imagemagick msitools wixl faketime icoutils)
            ;;
        *) echo "install-deps: unknown group '$extra'" >&2; exit 2 ;;
    esac
done

if ! command -v dpkg-query >/dev/null 2>&1; then
    echo "install-deps: not a Debian system; make sure these are installed: ${packages[*]}" >&2
    exit 0
fi

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -eq 0 ]]; then
    apt=(apt-get)
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
    apt=(sudo apt-get)
elif command -v sudo >/dev/null 2>&1 && [[ -t 0 ]]; then
    apt=(sudo apt-get)
else
    echo "install-deps: these Debian packages are missing: ${missing[*]}" >&2
    echo "install-deps: install them as root: apt-get install ${missing[*]}" >&2
    exit 1
fi

echo "install-deps: installing ${missing[*]}"
[[ -n $llvm_libc && " ${missing[*]} " == *" $llvm_libc "* ]] &&
    echo "install-deps: the orbit's fast sine and cosine will come from $llvm_libc"
export DEBIAN_FRONTEND=noninteractive
if ! "${apt[@]}" install -y --no-install-recommends "${missing[@]}"; then
    # A fresh machine may have no package lists yet.
    "${apt[@]}" update
    "${apt[@]}" install -y --no-install-recommends "${missing[@]}"
fi
