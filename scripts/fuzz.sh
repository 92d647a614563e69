#!/usr/bin/env bash
# Runs the picture loader's fuzz target for a fixed time (FUZZ_SECONDS, 60 by
# default) from our seed corpus, with memory and time per input bounded.
set -euo pipefail
cd "$(dirname "$0")/.."
work=build-fuzz/corpus
mkdir -p "$work"
cp -n tests/fuzz/corpus/* "$work"/
# A small quarantine keeps the sanitizer's own memory out of the figure.
ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=32} ./build-fuzz/bin/picture_fuzz "$work" \
    -max_total_time="${FUZZ_SECONDS:-60}" -rss_limit_mb=1024 -malloc_limit_mb=256 -timeout=10 \
    -max_len=262144 \
    -print_final_stats=1
