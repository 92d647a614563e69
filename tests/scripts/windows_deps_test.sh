#!/usr/bin/env bash
# The judgements scripts/windows-deps.sh makes without building anything:
# which source version it fetches first, what it takes as installed astray,
# which libtiff codecs and libheif decoders it finds missing, and the
# pkg-config files it rewrites; and, where the MinGW-w64 compilers are
# installed, where CMake looks with cmake/mingw-w64-x86_64.cmake.
#
#   windows_deps_test.sh SCRIPT TOOLCHAIN_FILE
set -euo pipefail
# shellcheck source-path=SCRIPTDIR/../..
# shellcheck source=scripts/windows-deps.sh
source "$1"
toolchain_file=$(realpath -- "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
check() { # what got expected
    if [[ $2 != "$3" ]]; then
        echo "FAIL: $1: got '$2', expected '$3'"
        failures=$((failures + 1))
    fi
}

# Versions the lists give (in their order) | the order tried. Security
# updates (+debNuX) come before the point release, an epoch before any
# upstream version, a backport (~) after the version it comes before.
cases=(
    "1.6.39-2+deb12u5 1.6.39-2+deb12u6|1.6.39-2+deb12u6 1.6.39-2+deb12u5"
    "6.3.0+dfsg-1 2:6.2.1+dfsg1-1.1|2:6.2.1+dfsg1-1.1 6.3.0+dfsg-1"
    "1.23.6-2~deb13u1 1.23.6-2|1.23.6-2 1.23.6-2~deb13u1"
    "1.0.9-2 1.0.10-1 1.0.9-2|1.0.10-1 1.0.9-2"
    "|"
)
for case in "${cases[@]}"; do
    IFS='|' read -r given expected <<<"$case"
    got=$(tr ' ' '\n' <<<"$given" | newest_first | xargs || true)
    check "newest_first $given" "$got" "$expected"
done

# An install log's line | what of it is astray from the prefix /p/deps.
cases=(
    "-- Installing: /p/deps/lib/libjpeg.a|"
    "-- Up-to-date: /p/deps/include/png.h|"
    "Installing src/libdav1d.a to /p/deps/lib|"
    "-- Installing: /p/lib/libjpeg.a|/p/lib/libjpeg.a"
    "-- Installing: /p/deps/build/lib/libjpeg.a|/p/deps/build/lib/libjpeg.a"
    "-- Installing: /p/deps-old/lib/libjpeg.a|/p/deps-old/lib/libjpeg.a"
    "-- Installing: /p/deps/library/x.a|/p/deps/library/x.a"
    "-- Build files have been written to: /p|"
)
for case in "${cases[@]}"; do
    IFS='|' read -r line expected <<<"$case"
    check "astray_installs $line" "$(astray_installs /p/deps <<<"$line")" "$expected"
done

# What libtiff's two configuration headers define | the codecs missing of
# ZIP JPEG WEBP.
cases=(
    "ZIP JPEG WEBP|"
    "ZIP WEBP|JPEG"
    "|ZIP JPEG WEBP"
    "ZIP JPEGX WEBP|JPEG"
)
for case in "${cases[@]}"; do
    IFS='|' read -r defined expected <<<"$case"
    rm -f "$work"/tif*.h
    for codec in $defined; do
        # Half in each header, as libtiff splits them.
        header=$work/tiffconf.h
        [[ $codec == WEBP ]] && header=$work/tif_config.h
        echo "#define ${codec}_SUPPORT 1" >>"$header"
    done
    check "missing_tiff_codecs with $defined" "$(missing_tiff_codecs "$work" ZIP JPEG WEBP)" "$expected"
done

# libheif's Requires.private line | whether both decoders are linked in.
cases=(
    "Requires.private: libde265 dav1d|yes"
    "Requires.private: dav1d, libde265 >= 1.0.8|yes"
    "Requires.private: libde265|no"
    "Requires.private: libde2650 dav1d|no"
    "Requires: libde265 dav1d|no"
)
for case in "${cases[@]}"; do
    IFS='|' read -r line expected <<<"$case"
    echo "$line" >"$work/libheif.pc"
    got=no
    pc_requires_private "$work/libheif.pc" libde265 dav1d && got=yes
    check "pc_requires_private '$line'" "$got" "$expected"
done

# A line of a brotli pkg-config file | the line linking the archive.
cases=(
    "Libs: -L\${libdir} -lbrotlidec|Libs: -L\${libdir} -lbrotlidec-static"
    "Libs: -lbrotlidec -lm|Libs: -lbrotlidec-static -lm"
    "Libs: -lbrotlidec-static|Libs: -lbrotlidec-static"
    "Requires.private: libbrotlicommon >= 1.0.2|Requires.private: libbrotlicommon >= 1.0.2"
)
for case in "${cases[@]}"; do
    IFS='|' read -r line expected <<<"$case"
    check "brotli_static_pc dec '$line'" "$(brotli_static_pc dec <<<"$line")" "$expected"
done

# A line of libjxl's pkg-config file | that line in the decoder's.
cases=(
    "Name: libjxl|Name: libjxl_dec"
    "Libs: -L\${libdir} -ljxl|Libs: -L\${libdir} -ljxl_dec"
    "Requires.private: libhwy libbrotlicommon libbrotlienc libbrotlidec lcms2|Requires.private: libhwy libbrotlicommon libbrotlidec lcms2"
    "Requires.private: libhwy libbrotlienc|Requires.private: libhwy"
    "Cflags: -I\${includedir}|Cflags: -I\${includedir} -DJXL_STATIC_DEFINE"
    "Cflags.private: -DJXL_STATIC_DEFINE|"
    "Libs.private: -lm|Libs.private: -lm"
)
for case in "${cases[@]}"; do
    IFS='|' read -r line expected <<<"$case"
    check "jxl_dec_pc '$line'" "$(jxl_dec_pc <<<"$line")" "$expected"
done

# Meson's list of the flags.
check "meson_list" "$(meson_list "-O2 -ffile-prefix-map=/s/x=.")" "'-O2','-ffile-prefix-map=/s/x=.'"

# What CMake finds with the toolchain file | where. Windows libraries and
# headers come from MinGW-w64 and the deps folder alone, never from this
# machine; the tools run during the build are this machine's.
if command -v x86_64-w64-mingw32-gcc-posix >/dev/null; then
    cases=(
        "CMAKE_SYSTEM_NAME|Windows"
        "find_path zlib.h|/usr/x86_64-w64-mingw32/include"
        "find_library mpfr|@/deps/lib/libmpfr.a"
        "find_path mpfr.h|@/deps/include"
        "find_library seccomp|NOTFOUND"
        "find_path seccomp.h|NOTFOUND"
        "find_program pkg-config|$(command -v pkg-config)"
    )
    mkdir -p "$work/deps/lib" "$work/deps/include" "$work/project"
    : >"$work/deps/lib/libmpfr.a"
    : >"$work/deps/include/mpfr.h"
    {
        echo 'cmake_minimum_required(VERSION 3.16)'
        echo 'project(look C)'
        # shellcheck disable=SC2016 # CMake's variable, written for CMake
        echo 'message("RESULT CMAKE_SYSTEM_NAME|${CMAKE_SYSTEM_NAME}")'
        i=0
        for case in "${cases[@]:1}"; do
            IFS='| ' read -r command name _ <<<"$case"
            i=$((i + 1))
            echo "$command(found$i $name NO_CACHE)"
            echo "if(NOT found$i)"
            echo "  set(found$i NOTFOUND)"
            echo "endif()"
            echo "message(\"RESULT $command $name|\${found$i}\")"
        done
    } >"$work/project/CMakeLists.txt"
    cmake -S "$work/project" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$toolchain_file" \
        -DORBITALE_WINDOWS_DEPS="$work/deps" >"$work/cmake.log" 2>&1 ||
        { cat "$work/cmake.log"; exit 1; }
    for case in "${cases[@]}"; do
        IFS='|' read -r what expected <<<"$case"
        got=$(sed -n "s/^RESULT $what|//p" "$work/cmake.log")
        got=${got%/} # find_path under a root ends some folders with a slash
        check "$what" "$got" "${expected//@/$work}"
    done
else
    echo "no x86_64-w64-mingw32-gcc-posix: the toolchain file goes unchecked"
fi

echo "$failures failure(s)"
[[ $failures -eq 0 ]]
