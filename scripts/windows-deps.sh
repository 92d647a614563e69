#!/usr/bin/env bash
# Cross-builds, for 64-bit Windows, the libraries Orbitale links that Debian
# does not ship for MinGW-w64: MPFR (with GMP) for the orbit, and the picture
# decoders. Each comes from the Debian source package of the release this
# machine runs, with Debian's patches, and is built static into PREFIX:
#
#   scripts/windows-deps.sh build-windows/deps
#
# PREFIX/src holds the sources, PREFIX/build the builds, PREFIX/include and
# PREFIX/lib what the program's build uses (cmake/mingw-w64-x86_64.cmake,
# with -DORBITALE_WINDOWS_DEPS=PREFIX). A library already built, as its stamp
# in PREFIX/build says, is not built again; delete the stamp to rebuild it.
#
# JOBS sets how many compilers run at once (all the cores by default).
# SOURCE_DATE_EPOCH, when set, is the date the builds stamp into what they
# make; otherwise each library takes that of its Debian changelog.
set -euo pipefail

if [[ $# -ne 1 || -z $1 ]]; then
    echo "usage: $0 PREFIX" >&2
    exit 2
fi
prefix=$(realpath -m -- "$1")
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
toolchain=$root/cmake/mingw-w64-x86_64.cmake
jobs=${JOBS:-$(nproc)}
user_epoch=${SOURCE_DATE_EPOCH:-}
host=x86_64-w64-mingw32
cc=$host-gcc-posix
cxx=$host-g++-posix
mingw=/usr/$host

say() { echo "windows-deps: $*" >&2; }
die() { say "$*"; exit 1; }

# The Debian packages this script runs or builds against, installed only when
# missing (as scripts/install-deps.sh does for the native build).
tools=(
    dpkg-dev make cmake ninja-build pkg-config autoconf automake libtool
    nasm meson g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev
)
missing=()
for p in "${tools[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
if [[ ${#missing[@]} -gt 0 ]]; then
    if [[ $(id -u) -eq 0 ]]; then
        apt=(apt-get)
    elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
        apt=(sudo apt-get)
    else
        die "these Debian packages are missing: ${missing[*]}; install them as root"
    fi
    say "installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    if ! "${apt[@]}" install -y --no-install-recommends "${missing[@]}"; then
        "${apt[@]}" update
        "${apt[@]}" install -y --no-install-recommends "${missing[@]}"
    fi
fi

mkdir -p "$prefix"/{src,build,include,lib}

# ---------------------------------------------------------------------------
# Sources: apt-get with a configuration of its own under PREFIX/apt, which
# reads the source lists of this machine's release and leaves the machine's
# own lists, cache and sources untouched.
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[[ -n $codename ]] || die "/etc/os-release names no release (VERSION_CODENAME)"
apt_dir=$prefix/apt
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
[[ -r $keyring ]] || die "$keyring is missing (package debian-archive-keyring)"
apt_opts=(
    -o "Dir::Etc::SourceList=$apt_dir/sources.list"
    -o Dir::Etc::SourceParts=/dev/null
    -o "Dir::State::Lists=$apt_dir/lists"
    -o "Dir::Cache=$apt_dir/cache"
)
apt_lists_read=false
read_source_lists() {
    $apt_lists_read && return
    mkdir -p "$apt_dir"/lists/partial "$apt_dir"/cache/archives/partial
    cat >"$apt_dir/sources.list" <<EOF
deb-src [signed-by=$keyring] http://deb.debian.org/debian $codename main
deb-src [signed-by=$keyring] http://deb.debian.org/debian-security $codename-security main
EOF
    apt-get "${apt_opts[@]}" update -q >"$apt_dir/update.log" 2>&1 ||
        die "apt-get update of the source lists failed; see $apt_dir/update.log"
    apt_lists_read=true
}

# The versions of a source package the lists know, newest first.
source_versions() {
    local v sorted=() i
    while read -r v; do
        i=0
        while ((i < ${#sorted[@]})) && dpkg --compare-versions "${sorted[i]}" gt "$v"; do
            i=$((i + 1))
        done
        sorted=("${sorted[@]:0:i}" "$v" "${sorted[@]:i}")
    done < <(apt-cache "${apt_opts[@]}" showsrc "$1" 2>/dev/null |
        awk -v p="$1" '/^Package: /{ok = ($2 == p)} ok && /^Version: /{print $2}' | sort -u)
    ((${#sorted[@]} > 0)) && printf '%s\n' "${sorted[@]}"
}

# Fetches and unpacks (patches applied) a source package into PREFIX/src/NAME
# and sets $src to its tree and $version to its Debian version. The newest
# version comes first; should a mirror not have its files (the security
# archive's pool lags its lists on some mirrors), the next older one is taken
# and said so.
fetch_source() {
    local pkg=$1 dir=$prefix/src/$1 v
    read_source_lists
    mkdir -p "$dir"
    # A tree left by an unpacking cut short would be taken as complete.
    find "$dir" -mindepth 1 -maxdepth 1 -type d -exec rm -rf {} +
    local versions
    versions=$(source_versions "$pkg") || die "no source package $pkg in $codename"
    for v in $versions; do
        if (cd "$dir" && apt-get "${apt_opts[@]}" source -q "$pkg=$v") >"$dir/apt-get.log" 2>&1; then
            src=$(find "$dir" -mindepth 1 -maxdepth 1 -type d | head -n 1)
            [[ -n $src && -f $src/debian/changelog ]] || die "$pkg $v unpacked to no tree"
            version=$(dpkg-parsechangelog -l "$src/debian/changelog" -S Version)
            [[ $version == "$v" ]] || die "$pkg: asked for $v, unpacked $version"
            return
        fi
        say "$pkg $v could not be fetched ($(grep -m1 -E '^(E|Err):' "$dir/apt-get.log" || true)); trying an older version"
        find "$dir" -mindepth 1 -maxdepth 1 -type d -exec rm -rf {} +
    done
    die "no version of $pkg could be fetched; see $dir/apt-get.log"
}

# ---------------------------------------------------------------------------
# Build helpers. Each library's build is run by build_library, which sets
# $src, $build, $version and the compiler flags before calling build_NAME.

# The Windows zlib of libz-mingw-w64-dev, named as a file so that CMake links
# its static archive and not its DLL's import library.
zlib_cmake=(-DZLIB_INCLUDE_DIR="$mingw/include" -DZLIB_LIBRARY="$mingw/lib/libz.a")

# pkg-config sees only Windows libraries: ours, and zlib's.
export PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig:$mingw/lib/pkgconfig
unset PKG_CONFIG_PATH PKG_CONFIG_SYSROOT_DIR

run_cmake() {
    # Absolute folders, and CMake run from the build folder: a relative
    # CMAKE_INSTALL_LIBDIR that a project declares a PATH is taken relative to
    # the folder CMake runs in (libjpeg-turbo then installs outside PREFIX).
    (cd "$build" && cmake -S "$src" -B "$build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DORBITALE_WINDOWS_DEPS="$prefix" \
        -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DCMAKE_INSTALL_LIBDIR="$prefix/lib" \
        -DCMAKE_INSTALL_INCLUDEDIR="$prefix/include" \
        -DCMAKE_BUILD_TYPE=None \
        -DCMAKE_C_FLAGS="$CFLAGS" -DCMAKE_CXX_FLAGS="$CXXFLAGS" \
        -DBUILD_SHARED_LIBS=OFF \
        -DBUILD_TESTING=OFF \
        "$@") >"$build.configure.log" 2>&1 ||
        die "configuring $(basename "$build") failed; see $build.configure.log"
    cmake --build "$build" -j "$jobs" >"$build.build.log" 2>&1 ||
        die "building $(basename "$build") failed; see $build.build.log"
    cmake --install "$build" >"$build.install.log" 2>&1 ||
        die "installing $(basename "$build") failed; see $build.install.log"
    local outside
    outside=$(sed -n 's/^-- \(Installing\|Up-to-date\): //p' "$build.install.log" |
        grep -v -F "$prefix/" || true)
    [[ -z $outside ]] || die "$(basename "$build") installed outside $prefix: $outside"
}

run_configure() {
    (cd "$build" && "$src/configure" \
        --build="$(dpkg-architecture -qDEB_BUILD_GNU_TYPE 2>/dev/null)" \
        --host=$host --prefix="$prefix" --libdir="$prefix/lib" \
        --enable-static --disable-shared \
        CC=$cc CXX=$cxx CFLAGS="$CFLAGS" CXXFLAGS="$CXXFLAGS" \
        "$@") >"$build.configure.log" 2>&1 ||
        die "configuring $(basename "$build") failed; see $build.configure.log"
    make -C "$build" -j "$jobs" >"$build.build.log" 2>&1 ||
        die "building $(basename "$build") failed; see $build.build.log"
    make -C "$build" install >"$build.install.log" 2>&1 ||
        die "installing $(basename "$build") failed; see $build.install.log"
}

# Debian regenerates these packages' build files (dh_autoreconf), and its
# patches change configure.ac or Makefile.am, so the shipped ones are stale.
autoreconf_source() {
    (cd "$src" && autoreconf -fi) >"$build.autoreconf.log" 2>&1 ||
        die "autoreconf of $(basename "$src") failed; see $build.autoreconf.log"
}

# ---------------------------------------------------------------------------
# The libraries, in the order they depend on each other.

build_gmp() {
    autoreconf_source
    # Debian's amd64 build too picks one code path at build time (no "fat"
    # binary); x86_64 alone is the generic one, so any 64-bit PC runs it.
    run_configure --disable-fat --disable-cxx
}

build_mpfr4() {
    run_configure --with-gmp="$prefix"
}

build_libjpeg_turbo() {
    # The 8-bit libjpeg with its jpeg62 interface, as Debian's libjpeg62-turbo;
    # its SIMD code is assembled with nasm.
    run_cmake -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF \
        -DWITH_JAVA=OFF -DREQUIRE_SIMD=ON
}

build_giflib() {
    # Its Makefile builds the shared library and the tools along with the
    # archive; only the archive is wanted, from the files it lists.
    local sources obj objs=() cflags
    read -ra cflags <<<"$CFLAGS"
    sources=$(make -s -C "$src" -f Makefile -f - print-sources <<'EOF'
print-sources:
	@echo $(SOURCES)
EOF
    )
    [[ -n $sources ]] || die "giflib's Makefile lists no sources"
    for f in $sources; do
        obj=$build/${f%.c}.o
        $cc -std=gnu99 -Wall "${cflags[@]}" -I"$src" -c "$src/$f" -o "$obj" ||
            die "compiling giflib's $f failed"
        objs+=("$obj")
    done
    rm -f "$build/libgif.a"
    $host-ar rcsD "$build/libgif.a" "${objs[@]}"
    install -m 644 "$src/gif_lib.h" "$prefix/include/"
    install -m 644 "$build/libgif.a" "$prefix/lib/"
}

build_libpng1_6() {
    run_cmake "${zlib_cmake[@]}" -DPNG_SHARED=OFF -DPNG_STATIC=ON \
        -DPNG_EXECUTABLES=OFF -DPNG_TESTS=OFF
}

build_libwebp() {
    run_cmake -DWEBP_BUILD_ANIM_UTILS=OFF -DWEBP_BUILD_CWEBP=OFF \
        -DWEBP_BUILD_DWEBP=OFF -DWEBP_BUILD_GIF2WEBP=OFF \
        -DWEBP_BUILD_IMG2WEBP=OFF -DWEBP_BUILD_VWEBP=OFF \
        -DWEBP_BUILD_WEBPINFO=OFF -DWEBP_BUILD_WEBPMUX=OFF \
        -DWEBP_BUILD_EXTRAS=OFF -DWEBP_BUILD_LIBWEBPMUX=ON
}

build_tiff() {
    # The codecs whose libraries are built here or come with MinGW-w64
    # (zlib); libtiff's own (LZW, PackBits, CCITT and the small ones) are
    # always in. Nothing here builds zstd, xz, JBIG-KIT or LERC.
    run_cmake "${zlib_cmake[@]}" -Dzlib=ON -Dpixarlog=ON -Djpeg=ON \
        -Dold-jpeg=ON -Dwebp=ON -Dlzw=ON -Dpackbits=ON -Dccitt=ON \
        -Dlibdeflate=OFF -Djpeg12=OFF -Dzstd=OFF -Dlzma=OFF -Djbig=OFF \
        -Dlerc=OFF -Dcxx=OFF -Dtiff-tools=OFF -Dtiff-tests=OFF \
        -Dtiff-contrib=OFF -Dtiff-docs=OFF
    # libtiff leaves out, without failing, a codec whose library it does not
    # find: make sure each one asked for is in.
    local codec
    for codec in ZIP PIXARLOG JPEG OJPEG WEBP LZW PACKBITS CCITT; do
        grep -q "^#define ${codec}_SUPPORT 1" \
            "$build/libtiff/tif_config.h" "$build/libtiff/tiffconf.h" ||
            die "libtiff was configured without its $codec codec; see $build.configure.log"
    done
}

# What each library installs besides its headers, archives and pkg-config and
# CMake files (tools, manuals) is of no use to the Windows build.
prune_install() {
    rm -rf "${prefix:?}"/bin "$prefix"/share/man "$prefix"/share/doc "$prefix"/share/info
    # libtool's records name this machine's folders, and static linking has
    # no use for them (Debian drops them too).
    rm -f "$prefix"/lib/*.la
    # nasm writes the full path of each source into its objects, which no
    # compiler flag maps; no archive here carries debugging information, so
    # stripping it takes those paths away and nothing else.
    find "$prefix/lib" -maxdepth 1 -type f -name '*.a' \
        -exec $host-strip --strip-debug --enable-deterministic-archives {} +
}

# build_library NAME: fetches the Debian source package NAME and builds it,
# unless its stamp says it is built; prints its version and the seconds taken.
build_library() {
    local pkg=$1 stamp=$prefix/build/$1.stamp started=$SECONDS
    if [[ -s $stamp ]]; then
        echo "$pkg $(cat "$stamp"): built already"
        return
    fi
    fetch_source "$pkg"
    build=$prefix/build/$pkg
    rm -rf "$build" "$build".*.log
    mkdir -p "$build"
    local epoch=$user_epoch
    [[ -n $epoch ]] || epoch=$(dpkg-parsechangelog -l "$src/debian/changelog" -S Timestamp)
    (
        # shellcheck disable=SC2030 # each library has its own date
        export SOURCE_DATE_EPOCH=$epoch
        # No debugging information, and the source and build folders of this
        # machine written as "." where the compiler would write them.
        CFLAGS="-O2 -ffile-prefix-map=$src=. -ffile-prefix-map=$build=."
        CXXFLAGS=$CFLAGS
        export CFLAGS CXXFLAGS
        "build_${pkg//[.-]/_}"
    )
    prune_install
    echo "$version" >"$stamp"
    echo "$pkg $version: $((SECONDS - started)) s"
}

started=$SECONDS
for lib in gmp mpfr4 libjpeg-turbo giflib libpng1.6 libwebp tiff; do
    build_library "$lib"
done
echo "all built in $((SECONDS - started)) s, into $prefix"
