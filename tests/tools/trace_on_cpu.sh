#!/bin/sh
# trace_on_cpu.sh ORBIT_TRACE CPU TICKS
# Runs orbit-trace natively and under qemu-x86_64 emulating the processor CPU,
# and checks that both print exactly the same lines: the orbit keeps its exact
# positions on a processor without the fast path's instructions too.
set -eu
trace=$1
cpu=$2
ticks=$3

if ! command -v qemu-x86_64 >/dev/null 2>&1; then
    echo "qemu-x86_64 is not installed (Debian package qemu-user)"
    exit 77
fi

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

"$trace" 12000 9000 "$ticks" >"$dir/native"
status=0
qemu-x86_64 -cpu "$cpu" "$trace" 12000 9000 "$ticks" >"$dir/emulated" 2>"$dir/errors" || status=$?
if [ "$status" -ne 0 ]; then
    echo "orbit-trace under -cpu $cpu: exit status $status"
    cat "$dir/errors"
    exit 1
fi
if ! cmp "$dir/native" "$dir/emulated"; then
    diff "$dir/native" "$dir/emulated" | head -n 10
    exit 1
fi
lines=$(wc -l <"$dir/native")
if [ "$lines" -ne "$ticks" ]; then
    echo "expected $ticks lines, got $lines"
    exit 1
fi
echo "orbit-trace under -cpu $cpu: the same $ticks lines as natively"
