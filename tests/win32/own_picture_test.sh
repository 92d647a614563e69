#!/usr/bin/env bash
# One's own picture on Windows: copied under a fixed name into
# %LOCALAPPDATA%\Orbitale\drives, it is the one that loads, and without it
# the installed one does again.
#   own_picture_test.sh PICTURE_CHECK_EXE OWN_PICTURE
set -uo pipefail
local_data=$(wine cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')
own=$(winepath -u "$local_data\\Orbitale\\drives\\E\\VB" 2>/dev/null)
[[ -n $local_data && -n $own ]] || { echo "FAIL: no LOCALAPPDATA in this Wine prefix" >&2; exit 1; }
mkdir -p "$own"
trap 'rm -rf "$(dirname "$(dirname "$(dirname "$own")")")"' EXIT
cp "$2" "$own/dq3.gif"
with=$(wine "$1" --where 'E:\VB\dq3.gif' 2>&1; wine "$1" 'E:\VB\dq3.gif' 2>&1)
rm "$own/dq3.gif"
without=$(wine "$1" 'E:\VB\dq3.gif' 2>&1)
echo "$with"
echo "$without"
[[ $with == *"Orbitale\\drives\\E\\VB\\dq3.gif (your own)"*"E:\\VB\\dq3.gif: ok 1 684x484"* ]] ||
    { echo "FAIL: one's own picture was not the one loaded" >&2; exit 1; }
[[ $without == *"E:\\VB\\dq3.gif: ok 24 98x98"* ]] ||
    { echo "FAIL: without it, the installed Earth did not load" >&2; exit 1; }
