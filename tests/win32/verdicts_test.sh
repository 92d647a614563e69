#!/usr/bin/env bash
# The picture-verdict table of the Linux build, on the Windows build's
# helper: the table's files and their verdicts (written by picture_verdict_test
# with ORBITALE_VERDICT_TABLE), each loaded by picture-check.exe under Wine;
# then each picture that loads, its frames as kept, pixel for pixel, against
# the Linux build's picture-check.
#   verdicts_test.sh PICTURE_VERDICT_TEST PICTURE_CHECK_EXE PICTURE_CHECK WINDOWS_DEPS
set -uo pipefail
table=$(mktemp -d)
trap 'rm -rf "$table"' EXIT
[[ -x $1 ]] || { echo "FAIL: no $1: build the Linux tests first (make build)" >&2; exit 1; }
ORBITALE_VERDICT_TABLE=$table "$1" --gtest_filter=PictureVerdictTable.* >/dev/null ||
    { echo "FAIL: the table was not written" >&2; exit 1; }
cd "$table" || exit 1
# Where the Windows build knowingly differs: it reads AVIF with libheif
# (Debian has no libavif source to build), and reads only the primary
# image of an AVIF sequence, as of a HEIC.
sed -i 's/^AvifSequence: ok 3 /AvifSequence: ok 1 /' expected.txt
# The table's HEIF and JPEG XL rows are those of the Linux build's libheif
# and libjxl (grids a tile at a time from libheif 1.19, libjxl metered from
# 0.11). Where the Windows build has other versions of them (its sources
# taken from the previous release, when a mirror lacks this one's), those
# rows cannot be compared, and say so.
for pair in Heic:libheif:libheif Jxl:libjxl:libjxl_dec; do
    IFS=: read -r prefix linux windows <<<"$pair"
    here=$(pkg-config --modversion "$linux" 2>/dev/null)
    there=$(PKG_CONFIG_LIBDIR=$4/lib/pkgconfig pkg-config --modversion "$windows" 2>/dev/null)
    if [[ $here != "$there" ]]; then
        echo "not compared: $(grep -c "^$prefix" expected.txt) $prefix rows, $linux $here here and $there in the Windows build"
        sed -i "/^$prefix/d" expected.txt
    fi
done
mapfile -t names < <(cut -d: -f1 expected.txt)
wine "$2" "${names[@]}" 2>/dev/null >seen.txt
if ! diff expected.txt seen.txt; then
    echo "FAIL: $(diff expected.txt seen.txt | grep -c '^<') of ${#names[@]} verdicts differ (< Linux, > Windows)" >&2
    exit 1
fi
echo "ok: ${#names[@]} verdicts as on Linux"
# AVIF is decoded by another library there, whose colour conversion rounds
# otherwise.
mapfile -t shown < <(grep ': ok ' expected.txt | cut -d: -f1 | grep -v '^Avif')
"$3" --digest "${shown[@]}" >linux-kept.txt 2>/dev/null
wine "$2" --digest "${shown[@]}" 2>/dev/null | tr -d '\r' >windows-kept.txt
if ! diff linux-kept.txt windows-kept.txt; then
    echo "FAIL: $(diff linux-kept.txt windows-kept.txt | grep -c '^<') of ${#shown[@]} pictures kept otherwise (< Linux, > Windows)" >&2
    exit 1
fi
echo "ok: ${#shown[@]} pictures kept as on Linux, pixel for pixel"
