#!/usr/bin/env bash
# A decoding helper that is missing, or that ends without an answer: the
# picture is refused with its report and the next one is still loaded, as
# the program goes on after such a picture.
#   helper_start_test.sh PICTURE_CHECK_EXE NOT_A_HELPER_EXE PICTURE
set -uo pipefail
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cp "$1" "$dir/picture-check.exe"
run() { wine "$dir/picture-check.exe" "$3" "$3" 2>/dev/null | tr -d '\r'; echo "exit ${PIPESTATUS[0]}"; }
missing=$(run "$@")
cp "$2" "$dir/orbitale-decode.exe"
silent=$(run "$@")
printf '%s\n%s\n' "$missing" "$silent"
status=0
[[ $missing == *": error 51 内部错误"*": error 51 内部错误"*"exit 1" ]] ||
    { echo "FAIL: a missing helper was not a refusal of each picture" >&2; status=1; }
[[ $silent == *": error 481 图片无效"*": error 481 图片无效"*"exit 1" ]] ||
    { echo "FAIL: a helper that answered nothing was not a refusal of each picture" >&2; status=1; }
exit $status
