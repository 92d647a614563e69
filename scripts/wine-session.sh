#!/usr/bin/env bash
# Runs a command in a Wine session of its own: a private X server with
# openbox, and a Wine prefix made fresh in the build tree the first time.
#   scripts/wine-session.sh PREFIX_DIR COMMAND...
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
WINEPREFIX=$(realpath -m "$1")
export WINEPREFIX
shift
export WINEDEBUG=${WINEDEBUG:--all}
# Wine names files and window titles in the locale's character set: under
# the C locale (LANG unset, as in CI) the Chinese names would become
# question marks, the Start-menu entry 地球公转 and Form1's title among them.
export LC_ALL=C.UTF-8
# No Mono or Gecko installer dialogs: the tests need neither.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# shellcheck source=xvfb.sh
source "$here/xvfb.sh"
start_xvfb
openbox >/dev/null 2>&1 &
wm=$!
finish() {
    wineserver -k 2>/dev/null || true
    kill "$wm" 2>/dev/null || true
    stop_xvfb
}
trap finish EXIT
if [[ ! -f $WINEPREFIX/system.reg ]]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
fi
"$@"
