#!/usr/bin/env bash
# Runs the picture decoders' fuzz target for FUZZ_SECONDS (60 by default) on
# each format in turn (FUZZ_FORMATS, all of them by default), each from our seed
# pictures of that format, with memory and time per input bounded.
set -euo pipefail
cd "$(dirname "$0")/.."
status=0
for format in ${FUZZ_FORMATS:-jpg gif png bmp webp tif heic avif jxl}; do
    work=build-fuzz/corpus-$format
    mkdir -p "$work"
    cp -n tests/fuzz/corpus/*."$format" "$work"/
    echo "fuzz: $format for ${FUZZ_SECONDS:-60} s"
    # A small quarantine keeps the sanitizer's own memory out of the figure.
    # A finding is kept in build-fuzz/ and the other formats still run.
    # Leaks inside the format libraries are listed, with their reasons, in
    # tests/fuzz/lsan.supp: a run stops only for our own.
    LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=tests/fuzz/lsan.supp:print_suppressions=0} \
    ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=32} ./build-fuzz/bin/picture_fuzz "$work" \
        -max_total_time="${FUZZ_SECONDS:-60}" -rss_limit_mb=2048 -malloc_limit_mb=512 -timeout=10 \
        -max_len=262144 -print_final_stats=1 -artifact_prefix=build-fuzz/ || status=1
done
exit $status
