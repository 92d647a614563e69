#!/usr/bin/env bash
# The installer as a user runs it, under Wine: installed per machine into
# Program Files\Orbitale with its Start-menu entry, the installed program
# started, then uninstalled with nothing left behind.
#   installer_test.sh PACKAGE.msi
set -uo pipefail
msi=$1
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
programs=$(winepath -u 'C:\Program Files\Orbitale' 2>/dev/null)
# Every user's Start menu on Windows; Wine 8's installer puts a per-machine
# package's entries into the installing user's, so either will do here.
menus=("$(winepath -u 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs' 2>/dev/null)"
    "$(winepath -u "$(wine cmd /c echo %APPDATA% 2>/dev/null | tr -d '\r')\Microsoft\Windows\Start Menu\Programs")")
entry() {
    for menu in "${menus[@]}"; do
        [[ -f "$menu/地球公转.lnk" ]] && return 0
    done
    return 1
}
[[ -n $programs ]] || fail "no Wine prefix to install into"

wine msiexec /i "$(winepath -w "$msi")" /qn || fail "msiexec /i failed with status $?"
for f in Orbitale.exe orbitale-decode.exe picture-check.exe orbit-trace.exe \
    drives/E/VB/dq3.gif drives/E/VB/xxgdt.jpg; do
    [[ -f $programs/$f ]] || fail "not installed: $f"
done
entry || fail "no Start-menu entry 地球公转"

# The installed program and its helper: every picture it ships loads.
out=$(wine "$programs/picture-check.exe" 'E:\VB\dq3.gif' 'E:\VB\xxgdt.jpg' 'E:\VB\bjtam.jpg')
[[ $out == *"dq3.gif: ok 24 98x98"*"xxgdt.jpg: ok 1 684x484"*"bjtam.jpg: ok 1 684x484"* ]] ||
    fail "the installed pictures did not load: $out"
wine "$programs/Orbitale.exe" &
program=$!
for _ in $(seq 100); do
    [[ -n $(xdotool search --onlyvisible --name "^地球公转 Tavelin 2006.11.\$" 2>/dev/null) ]] && break
    sleep 0.1
done
[[ -n $(xdotool search --onlyvisible --name "^地球公转 Tavelin 2006.11.\$" 2>/dev/null) ]] ||
    fail "the installed program showed no Form1"
# 退出 (CmdExit), beside the box once the window is large enough to show it.
form1=$(xdotool search --onlyvisible --name "^地球公转 Tavelin 2006.11.\$" | head -n 1)
xdotool windowsize "$form1" 800 520
sleep 1
xdotool mousemove --window "$form1" 740 388 click 1
wait $program || fail "the installed program ended with status $?"

wine msiexec /x "$(winepath -w "$msi")" /qn || fail "msiexec /x failed with status $?"
[[ ! -e $programs ]] || fail "left behind: $(find "$programs")"
entry && fail "the Start-menu entry stayed"
echo "ok"
