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

host=x86_64-w64-mingw32
cc=$host-gcc-posix
cxx=$host-g++-posix
mingw=/usr/$host
# The Windows zlib of libz-mingw-w64-dev, named as a file so that CMake links
# its static archive and not its DLL's import library.
zlib_cmake=(-DZLIB_INCLUDE_DIR="$mingw/include" -DZLIB_LIBRARY="$mingw/lib/libz.a")
# The Debian source packages, in the order they depend on each other.
libraries=(
    gmp mpfr4 libjpeg-turbo giflib libpng1.6 libwebp tiff
    libde265 dav1d libheif highway brotli lcms2 jpeg-xl
)

say() { echo "windows-deps: $*" >&2; }
die() { say "$*"; exit 1; }

# The Debian packages this script runs or builds against, installed only when
# missing (as scripts/install-deps.sh does for the native build).
install_tools() {
    local tools=(
        dpkg-dev debian-archive-keyring make cmake ninja-build pkg-config
        autoconf automake libtool
        nasm meson g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev
    )
    local p status missing=() apt
    for p in "${tools[@]}"; do
        status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
        [[ "$status" == "install ok installed" ]] || missing+=("$p")
    done
    [[ ${#missing[@]} -gt 0 ]] || return 0
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
}

# ---------------------------------------------------------------------------
# Sources: apt-get with a configuration of its own for each release under
# PREFIX/apt (set up by main), which reads that release's source lists and
# leaves the machine's own lists, cache and sources untouched.

# use_release RELEASE: apt_opts for that release's lists, read once.
use_release() {
    local dir=$apt_dir/$1
    apt_opts=(
        -o "Dir::Etc::SourceList=$dir/sources.list"
        -o Dir::Etc::SourceParts=/dev/null
        -o "Dir::State::Lists=$dir/lists"
        -o "Dir::Cache=$dir/cache"
    )
    [[ -f $dir/read ]] && return
    mkdir -p "$dir"/lists/partial "$dir"/cache/archives/partial
    cat >"$dir/sources.list" <<EOF
deb-src [signed-by=$keyring] http://deb.debian.org/debian $1 main
deb-src [signed-by=$keyring] http://deb.debian.org/debian-security $1-security main
EOF
    apt-get "${apt_opts[@]}" update -q >"$dir/update.log" 2>&1 ||
        die "apt-get update of $1's source lists failed; see $dir/update.log"
    touch "$dir/read"
}

# The release before RELEASE, whose source stands in where a mirror has none
# of RELEASE's own versions of a package whole (seen for Debian 13's mpfr4 and
# libjpeg-turbo: their .dsc there, their Debian part missing).
previous_release() {
    case $1 in
    bookworm) echo bullseye ;;
    trixie) echo bookworm ;;
    forky) echo trixie ;;
    esac
}

# Debian versions, one a line, newest first and each once.
newest_first() {
    local v sorted=() i
    while read -r v; do
        [[ -n $v ]] || continue
        i=0
        while ((i < ${#sorted[@]})) && dpkg --compare-versions "${sorted[i]}" gt "$v"; do
            i=$((i + 1))
        done
        ((i < ${#sorted[@]})) && [[ ${sorted[i]} == "$v" ]] && continue
        sorted=("${sorted[@]:0:i}" "$v" "${sorted[@]:i}")
    done
    ((${#sorted[@]} > 0)) && printf '%s\n' "${sorted[@]}"
}

# The versions of a source package the lists know, newest first.
source_versions() {
    apt-cache "${apt_opts[@]}" showsrc "$1" 2>/dev/null |
        awk -v p="$1" '/^Package: /{ok = ($2 == p)} ok && /^Version: /{print $2}' |
        newest_first
}

# Fetches and unpacks (patches applied) a source package into PREFIX/src/NAME
# and sets $src to its tree and $version to its Debian version. The newest
# version comes first; should a mirror not have its files (the security
# archive's pool lags its lists on some mirrors), the next older one is taken
# and said so, and where the release has none whole, the release before.
fetch_source() {
    local pkg=$1 dir=$prefix/src/$1 previous
    mkdir -p "$dir"
    fetch_from "$pkg" "$codename" && return
    previous=$(previous_release "$codename")
    [[ -n $previous ]] || die "no version of $pkg could be fetched; see $dir/apt-get.log"
    say "no version of $pkg in $codename could be fetched whole; taking $previous's"
    fetch_from "$pkg" "$previous" ||
        die "no version of $pkg could be fetched from $codename or $previous; see $dir/apt-get.log"
}

# fetch_from PKG RELEASE: the newest version of PKG in RELEASE that the mirror
# has whole, unpacked; fails when there is none.
fetch_from() {
    local pkg=$1 dir=$prefix/src/$1 v versions
    use_release "$2"
    # A tree left by an unpacking cut short would be taken as complete.
    find "$dir" -mindepth 1 -maxdepth 1 -type d -exec rm -rf {} +
    versions=$(source_versions "$pkg") || return 1
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
    return 1
}

# ---------------------------------------------------------------------------
# Build helpers. Each library's build is run by build_library, which sets
# $src, $build, $version and the compiler flags before calling build_NAME.

# CFLAGS and CXXFLAGS are set for each library by build_library.
# shellcheck disable=SC2153
cmake_configure() {
    # The install folders are given as strings: a relative one that a project
    # declares a PATH (libjpeg-turbo) CMake would take as relative to the
    # folder it runs in, and an absolute one some projects' pkg-config files
    # (highway's) put after the prefix.
    (cd "$build" && cmake -S "$src" -B "$build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DORBITALE_WINDOWS_DEPS="$prefix" \
        -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DCMAKE_INSTALL_LIBDIR:STRING=lib \
        -DCMAKE_INSTALL_INCLUDEDIR:STRING=include \
        -DCMAKE_BUILD_TYPE=None \
        -DCMAKE_C_FLAGS="$CFLAGS" -DCMAKE_CXX_FLAGS="$CXXFLAGS" \
        -DBUILD_SHARED_LIBS=OFF \
        -DBUILD_TESTING=OFF \
        "$@") >"$build.configure.log" 2>&1 ||
        die "configuring $(basename "$build") failed; see $build.configure.log"
}

# cmake_build [TARGET...]: all of them when none is named.
cmake_build() {
    local targets=()
    (($# == 0)) || targets=(--target "$@")
    cmake --build "$build" -j "$jobs" "${targets[@]}" >"$build.build.log" 2>&1 ||
        die "building $(basename "$build") failed; see $build.build.log"
}

cmake_install() {
    cmake --install "$build" >"$build.install.log" 2>&1 ||
        die "installing $(basename "$build") failed; see $build.install.log"
    check_installs
}

# The files an install log (CMake's or Meson's) names outside the folders of
# PREFIX that hold what is installed.
astray_installs() {
    local prefix=$1
    sed -n -e 's/^-- \(Installing\|Up-to-date\): //p' -e 's/^Installing .* to //p' |
        awk -v p="$prefix/" '{
            ok = 0
            split("include lib share bin", dirs, " ")
            for (d in dirs)
                if (index($0 "/", p dirs[d] "/") == 1) ok = 1
            if (!ok) print
        }'
}

check_installs() {
    local astray
    astray=$(astray_installs "$prefix" <"$build.install.log")
    [[ -z $astray ]] || die "$(basename "$build") installed files astray: $astray"
}

run_cmake() {
    cmake_configure "$@"
    cmake_build
    cmake_install
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
    local missing
    missing=$(missing_tiff_codecs "$build/libtiff" ZIP PIXARLOG JPEG OJPEG WEBP LZW PACKBITS CCITT)
    [[ -z $missing ]] || die "libtiff was configured without $missing; see $build.configure.log"
}

# missing_tiff_codecs DIR CODEC...: those of the codecs that the
# configuration headers libtiff wrote in DIR leave out.
missing_tiff_codecs() {
    local dir=$1 codec missing=()
    shift
    for codec in "$@"; do
        # grep reads the headers itself: fed through a pipe, its early exit
        # on a match could fail the pipe under pipefail, a codec found
        # taken for one missing.
        grep -qs "^#define ${codec}_SUPPORT 1" "$dir/tif_config.h" "$dir/tiffconf.h" ||
            missing+=("$codec")
    done
    echo "${missing[*]}"
}

build_libde265() {
    # The library alone: its player needs SDL, its encoder is unfinished.
    run_cmake -DENABLE_SDL=OFF -DENABLE_DECODER=OFF -DENABLE_ENCODER=OFF
}

build_dav1d() {
    # Meson takes the Windows compilers, and the flags, from a file of its own.
    local cross=$build.cross.ini
    cat >"$cross" <<EOF
[binaries]
c = '$cc'
cpp = '$cxx'
ar = '$host-ar'
strip = '$host-strip'
windres = '$host-windres'
pkg-config = 'pkg-config'

[built-in options]
c_args = [$(meson_list "$CFLAGS")]
cpp_args = [$(meson_list "$CXXFLAGS")]

[host_machine]
system = 'windows'
cpu_family = 'x86_64'
cpu = 'x86_64'
endian = 'little'
EOF
    (cd "$build" && env -u CFLAGS -u CXXFLAGS meson setup "$build" "$src" \
        --cross-file "$cross" --prefix "$prefix" --libdir lib \
        --buildtype plain --default-library static \
        -Denable_tools=false -Denable_tests=false -Denable_examples=false \
        -Denable_docs=false -Denable_asm=true) >"$build.configure.log" 2>&1 ||
        die "configuring dav1d failed; see $build.configure.log"
    ninja -C "$build" -j "$jobs" >"$build.build.log" 2>&1 ||
        die "building dav1d failed; see $build.build.log"
    ninja -C "$build" install >"$build.install.log" 2>&1 ||
        die "installing dav1d failed; see $build.install.log"
    check_installs
}

# meson_list "WORDS": the words as the items of a Meson list.
meson_list() {
    local word out=()
    for word in $1; do out+=("'$word'"); done
    local IFS=,
    echo "${out[*]}"
}

build_libheif() {
    # Decoding HEIC through libde265 and AVIF through dav1d, both linked in;
    # no encoders, no other codecs, and no plugins (a static program loads
    # none). Newer libheif has more codecs to turn off than this one knows.
    run_cmake -DWITH_LIBDE265=ON -DWITH_LIBDE265_PLUGIN=OFF \
        -DWITH_DAV1D=ON -DWITH_DAV1D_PLUGIN=OFF -DWITH_X265=OFF \
        -DWITH_AOM_DECODER=OFF -DWITH_AOM_ENCODER=OFF -DWITH_SvtEnc=OFF \
        -DWITH_RAV1E=OFF -DWITH_JPEG_DECODER=OFF -DWITH_JPEG_ENCODER=OFF \
        -DWITH_OpenJPEG_DECODER=OFF -DWITH_OpenJPEG_ENCODER=OFF \
        -DWITH_FFMPEG_DECODER=OFF -DWITH_KVAZAAR=OFF -DWITH_LIBSHARPYUV=OFF \
        -DWITH_GDK_PIXBUF=OFF -DENABLE_PLUGIN_LOADING=OFF -DWITH_EXAMPLES=OFF
    # libheif goes on without a decoder it does not find; the libraries it
    # linked in are those its pkg-config file requires.
    pc_requires_private "$prefix/lib/pkgconfig/libheif.pc" libde265 dav1d ||
        die "libheif was built without libde265 or dav1d; see $build.configure.log"
}

# pc_requires_private FILE NAME...: whether the pkg-config file FILE has each
# NAME among its private requirements (with or without a version).
pc_requires_private() {
    local file=$1 name word found words
    shift
    read -ra words <<<"$(sed -n 's/^Requires.private://p' "$file" | tr ',' ' ')"
    for name in "$@"; do
        found=false
        for word in "${words[@]}"; do
            [[ $word == "$name" ]] && found=true
        done
        $found || return 1
    done
    return 0
}

build_highway() {
    run_cmake -DHWY_ENABLE_TESTS=OFF -DHWY_ENABLE_EXAMPLES=OFF \
        -DHWY_ENABLE_CONTRIB=OFF -DHWY_ENABLE_INSTALL=ON -DHWY_FORCE_STATIC_LIBS=ON
}

build_brotli() {
    run_cmake -DBROTLI_DISABLE_TESTS=ON
    # Brotli 1.0 builds its DLLs whatever it is told, beside archives named
    # brotli*-static: drop the DLLs, and point the pkg-config files at the
    # archives. (Later ones build either, with the plain names.)
    local part
    for part in common dec enc; do
        if [[ -f $prefix/lib/libbrotli$part-static.a ]]; then
            rm -f "$prefix/lib/libbrotli$part.dll.a"
            brotli_static_pc $part <"$prefix/lib/pkgconfig/libbrotli$part.pc" >"$build/libbrotli$part.pc"
            mv "$build/libbrotli$part.pc" "$prefix/lib/pkgconfig/libbrotli$part.pc"
        fi
        [[ -f $prefix/lib/libbrotli$part-static.a || -f $prefix/lib/libbrotli$part.a ]] ||
            die "brotli installed no archive of libbrotli$part"
    done
}

# brotli_static_pc PART: the pkg-config file of libbrotliPART, read from the
# input, linking its archive instead of its DLL.
brotli_static_pc() {
    sed "s/-lbrotli$1\\([[:space:]]\\|\$\\)/-lbrotli$1-static\\1/"
}

build_lcms2() {
    autoreconf_source
    # The library alone: only its command-line tools read JPEG and TIFF.
    run_configure --without-jpeg --without-tiff
}

build_jpeg_xl() {
    # Colour management through lcms2 (Debian's source carries no skcms),
    # and the highway and brotli built above.
    cmake_configure -DJPEGXL_FORCE_SYSTEM_BROTLI=ON -DJPEGXL_FORCE_SYSTEM_HWY=ON \
        -DJPEGXL_FORCE_SYSTEM_LCMS2=ON -DJPEGXL_ENABLE_SKCMS=OFF \
        -DJPEGXL_BUNDLE_SKCMS=OFF -DJPEGXL_ENABLE_TOOLS=OFF \
        -DJPEGXL_ENABLE_DEVTOOLS=OFF -DJPEGXL_ENABLE_BENCHMARK=OFF \
        -DJPEGXL_ENABLE_EXAMPLES=OFF -DJPEGXL_ENABLE_MANPAGES=OFF \
        -DJPEGXL_ENABLE_DOXYGEN=OFF -DJPEGXL_ENABLE_JNI=OFF \
        -DJPEGXL_ENABLE_SJPEG=OFF -DJPEGXL_ENABLE_OPENEXR=OFF \
        -DJPEGXL_ENABLE_PLUGINS=OFF -DJPEGXL_ENABLE_TCMALLOC=OFF \
        -DJPEGXL_ENABLE_FUZZERS=OFF -DJPEGXL_ENABLE_VIEWERS=OFF \
        -DBROTLICOMMON_NAMES=brotlicommon-static \
        -DBROTLIDEC_NAMES=brotlidec-static -DBROTLIENC_NAMES=brotlienc-static
    # The decoder alone: libjxl_dec, without the encoder that libjxl adds.
    cmake_build jxl_dec-static
    mkdir -p "$prefix/include/jxl"
    install -m 644 "$src"/lib/include/jxl/*.h "$build"/lib/include/jxl/*.h "$prefix/include/jxl/"
    install -m 644 "$build/lib/libjxl_dec.a" "$prefix/lib/"
    # libjxl's pkg-config file, made for the decoder: its archive, without the
    # encoder's brotli, and static in every use since no DLL is built.
    [[ -f $build/lib/libjxl.pc ]] || die "jpeg-xl made no libjxl.pc"
    jxl_dec_pc <"$build/lib/libjxl.pc" >"$prefix/lib/pkgconfig/libjxl_dec.pc"
}

# jxl_dec_pc: libjxl's pkg-config file, read from the input, made for the
# decoder alone.
jxl_dec_pc() {
    sed -e 's/^Name: libjxl$/Name: libjxl_dec/' \
        -e 's/^Description: .*/Description: Loads JPEG XL files/' \
        -e 's/ libbrotlienc\([[:space:]]\|$\)/\1/' -e 's/-ljxl$/-ljxl_dec/' \
        -e 's/^Cflags: .*/& -DJXL_STATIC_DEFINE/' -e '/^Cflags.private:/d'
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
    # No debugging information, and the source and build folders of this
    # machine written as "." where the compiler would write them. No
    # warnings: they are the libraries' own developers' concern, and some
    # make them errors, which a compiler newer than theirs turns into a
    # failed build (libheif 1.15 under GCC 14).
    local flags="-O2 -w -ffile-prefix-map=$src=. -ffile-prefix-map=$build=."
    SOURCE_DATE_EPOCH=$epoch CFLAGS=$flags CXXFLAGS=$flags "build_${pkg//[.-]/_}"
    prune_install
    echo "$version" >"$stamp"
    echo "$pkg $version: $((SECONDS - started)) s"
}

main() {
    if [[ $# -ne 1 || -z $1 ]]; then
        echo "usage: $0 PREFIX" >&2
        exit 2
    fi
    prefix=$(realpath -m -- "$1")
    root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
    toolchain=$root/cmake/mingw-w64-x86_64.cmake
    jobs=${JOBS:-$(nproc)}
    user_epoch=${SOURCE_DATE_EPOCH:-}

    install_tools
    mkdir -p "$prefix"/{src,build,include,lib}

    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [[ -n $codename ]] || die "/etc/os-release names no release (VERSION_CODENAME)"
    apt_dir=$prefix/apt
    keyring=/usr/share/keyrings/debian-archive-keyring.gpg
    [[ -r $keyring ]] || die "$keyring is missing"

    # pkg-config sees only Windows libraries: ours, and zlib's.
    export PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig:$mingw/lib/pkgconfig
    unset PKG_CONFIG_PATH PKG_CONFIG_SYSROOT_DIR

    local lib started=$SECONDS
    for lib in "${libraries[@]}"; do
        build_library "$lib"
    done
    echo "all built in $((SECONDS - started)) s, into $prefix"
}

# Run, unless read by the tests for the functions alone.
if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
    main "$@"
fi
