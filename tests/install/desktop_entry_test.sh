#!/usr/bin/env bash
# The installed desktop entry starts the installed program from the menu,
# whatever the prefix: for each prefix below, install the entry, check its
# Exec line and that desktop-file-validate accepts it, then launch it as a
# menu does (gio launch) with a stand-in program at the installed path and
# wait for the stand-in to run.
#
#   desktop_entry_test.sh INSTALL_SCRIPT DESKTOP_FILE
set -euo pipefail
install_script=$1
desktop_file=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# prefix (under $work unless absolute) | expected Exec value (@ is $work) |
# whether to launch it. GLib looks for the program before it expands the %%
# escape, so a menu built on it cannot start a program under a path with %.
cases=(
    "/usr|orbitale|no"
    "plain/.local|@/plain/.local/bin/orbitale|yes"
    "with space/.local|\"@/with space/.local/bin/orbitale\"|yes"
    "dollar\$HOME|\"@/dollar\\\\\$HOME/bin/orbitale\"|yes"
    "quote\"back\`tick|\"@/quote\\\\\"back\\\\\`tick/bin/orbitale\"|yes"
    "100%|@/100%%/bin/orbitale|no"
)
for case in "${cases[@]}"; do
    IFS='|' read -r prefix expected launch <<<"$case"
    [[ $prefix == /* ]] || prefix="$work/$prefix"
    expected=${expected//@/$work}
    destdir="$work/dest"
    rm -rf "$destdir"
    # The package installs under /usr into a staging folder: DESTDIR.
    DESTDIR=$destdir cmake -DCMAKE_INSTALL_PREFIX="$prefix" \
        -Dorbitale_desktop_source="$desktop_file" -Dorbitale_desktop_work="$work/entry.desktop" \
        -Dorbitale_bindir=bin -Dorbitale_datadir=share -P "$install_script" >/dev/null
    entry="$destdir$prefix/share/applications/orbitale.desktop"
    if [[ ! -f $entry ]]; then
        fail "$prefix: no entry installed at $entry"
        continue
    fi
    exec_line=$(sed -n 's/^Exec=//p' "$entry")
    [[ $exec_line == "$expected" ]] || fail "$prefix: Exec=$exec_line, expected Exec=$expected"
    desktop-file-validate "$entry" || fail "$prefix: desktop-file-validate refuses the entry"

    [[ $launch == yes ]] || continue
    marker="$work/started"
    rm -f "$marker"
    mkdir -p "$destdir$prefix/bin"
    printf '#!/bin/sh\necho "$0" > "%s"\n' "$marker" >"$destdir$prefix/bin/orbitale"
    chmod +x "$destdir$prefix/bin/orbitale"
    # The entry names the final path; move the staged tree there to launch it.
    mkdir -p "$(dirname "$prefix")"
    mv "$destdir$prefix" "$prefix"
    gio launch "$prefix/share/applications/orbitale.desktop" || fail "$prefix: gio launch failed"
    for _ in $(seq 100); do
        [[ -s $marker ]] && break
        sleep 0.1
    done
    if [[ ! -s $marker ]]; then
        fail "$prefix: launching the entry did not start $prefix/bin/orbitale"
    elif [[ $(cat "$marker") != "$prefix/bin/orbitale" ]]; then
        fail "$prefix: launching the entry started $(cat "$marker")"
    fi
    rm -rf "$prefix"
done
echo "$failures failure(s)"
[[ $failures -eq 0 ]]
