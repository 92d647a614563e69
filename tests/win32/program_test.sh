#!/usr/bin/env bash
# Orbitale.exe as a user meets it, under Wine on the session's X server:
# Form1 with its caption and its Earth moving, a background click to Form2,
# a scenery shown, a missing picture's report with the program going on, and
# 退出 ending it with status 0.
#   program_test.sh ORBITALE_EXE SCREENS_DIR
set -uo pipefail
exe=$1
screens=$2
mkdir -p "$screens"
work=$(mktemp -d)
trap 'wineserver -k 2>/dev/null; rm -rf "$work"' EXIT

# A copy of the installation without the picture 宇宙太空 loads.
cp -r "$(dirname "$exe")" "$work/Orbitale"
rm "$work/Orbitale/drives/E/VB/xxgdt.jpg"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
window() { # the visible window of this exact title
    xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1
}
wait_for() {
    local id=
    for _ in $(seq 100); do
        id=$(window "$1")
        [[ -n $id ]] && break
        sleep 0.1
    done
    echo "$id"
}
shot() { # window, file
    xwd -id "$1" -silent | convert xwd:- "$screens/$2.png"
}
# Where the Earth is in a shot: the pixels inside the box's border and focus
# ring that are not its teal.
earth() {
    convert "$screens/$1.png" -crop 676x476+4+12 +repage -fuzz 12% -transparent "rgb(0,192,192)" \
        -format '%@' info:
}
# The colour at a point of a shot.
colour() {
    convert "$screens/$1.png" -format "%[pixel:p{$2,$3}]" info:
}
click() { # window, x, y in its client area
    xdotool mousemove --window "$1" "$2" "$3" click 1
    sleep 0.7
}
# A scenery is read by the helper, which may take a few seconds on a busy
# machine: shots until the box is no longer teal at a point the Earth never
# crosses, for up to ten seconds.
scenery() { # window, file
    for _ in $(seq 20); do
        shot "$1" "$2"
        [[ $(colour "$2" 600 60) != "srgb(0,192,192)" ]] && return 0
        sleep 0.5
    done
    return 1
}

wine "$work/Orbitale/Orbitale.exe" >"$work/out.txt" 2>&1 &
program=$!

form1=$(wait_for "地球公转 Tavelin 2006.11.")
[[ -n $form1 ]] || fail "Form1 did not show with its caption"
# Large enough to show the buttons beside the box, as a user would drag it.
xdotool windowsize "$form1" 800 520
sleep 1
shot "$form1" form1-a
sleep 0.5
shot "$form1" form1-b
a=$(earth form1-a)
b=$(earth form1-b)
[[ $a =~ ^[0-9]+x[0-9]+\+ ]] || fail "no Earth in the box ($a)"
[[ $a != "$b" ]] || fail "the Earth did not move in half a second ($a)"
echo "Earth at $a, then at $b"

# 蓝天白云 (CmdLtby) shows the sky: the box is no longer teal where the Earth is not.
click "$form1" 740 348
scenery "$form1" form1-sky || fail "蓝天白云 showed no sky"

# 宇宙太空 (CmdYjtk): its picture is missing here, so a report, in Chinese.
xdotool mousemove --window "$form1" 740 308 click 1
report=$(wait_for "Orbitale")
[[ -n $report ]] || fail "a missing picture gave no report"
sleep 1
xwd -id "$report" -silent | convert xwd:- "$screens/report.png"
# Pressed as a keyboard does, to the window that has the focus: a key sent
# to one window arrives without its release once that window is gone.
xdotool windowfocus --sync "$report" key Return
sleep 0.7
[[ -z $(window "Orbitale") ]] || fail "the report stayed after Return"
kill -0 $program 2>/dev/null || fail "the program ended after the report"

# A click on the background: Form2, and Form1 gone.
click "$form1" 760 100
form2=$(wait_for "地球公转1 Tavelin 2006.11.")
[[ -n $form2 ]] || fail "a background click did not show Form2"
[[ -z $(window "地球公转 Tavelin 2006.11.") ]] || fail "Form1 is still shown beside Form2"
xdotool windowsize "$form2" 800 520
sleep 0.7
# 首都北京 (CmdSdbj) shows Beijing.
click "$form2" 740 300
scenery "$form2" form2-beijing || fail "首都北京 showed no picture"

# 退出 (CmdExit) ends the program, with status 0.
click "$form2" 740 380
for _ in $(seq 50); do
    kill -0 $program 2>/dev/null || break
    sleep 0.1
done
kill -0 $program 2>/dev/null && fail "退出 did not end the program"
wait $program
status=$?
[[ $status -eq 0 ]] || fail "the program ended with status $status"
echo "ok: screens in $screens"
