#!/usr/bin/env bash
# make screenshots: the pictures in the README, taken of the real program
# under Xvfb: each window with a scenery, the Earth on its orbit, and Form1
# on a screen scaled twice (as on a high-density display).
set -euo pipefail
cd "$(dirname "$0")/.."
out=docs
mkdir -p "$out"
work=$(mktemp -d)
source scripts/xvfb.sh
XVFB_SCREEN=1920x1200x24 # room for the window at twice the scale
trap 'stop_xvfb; kill $PID 2>/dev/null || true; rm -rf "$work"' EXIT
start_xvfb
mkdir -m 700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime"

wait_window() { # NAME-PATTERN: prints the visible window's id
    local id=
    for _ in $(seq 200); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1) && [[ -n "$id" ]] && break
        sleep 0.05
    done
    [[ -n "$id" ]] || { echo "screenshots: no window '$1'" >&2; exit 1; }
    echo "$id"
}
click_in() { # WINDOW X Y, in the program's pixels
    eval "$(xdotool getwindowgeometry --shell "$1")"
    xdotool mousemove $((X + $2 * ${SCALE:-1})) $((Y + $3 * ${SCALE:-1})) click 1
}

./build/bin/orbitale 2>/dev/null &
PID=$!
form1=$(wait_window "地球公转 Tavelin")
xdotool windowsize "$form1" 800 520
sleep 0.5
click_in "$form1" 740 308 # 宇宙太空
sleep 1
import -window "$form1" "$out/form1.png"

click_in "$form1" 740 348 # 蓝天白云
sleep 0.5
mkdir "$work/frames"
for i in $(seq -w 0 31); do
    import -window "$form1" "$work/frames/$i.png"
    sleep 0.15
done
convert -delay 20 -loop 0 "$work/frames/"*.png -resize 50% -layers Optimize "$out/orbit.gif"

click_in "$form1" 760 40 # to Form2
form2=$(wait_window "地球公转1 Tavelin")
xdotool windowsize "$form2" 800 520
sleep 0.5
click_in "$form2" 740 300 # 首都北京
sleep 1
import -window "$form2" "$out/form2-beijing.png"
click_in "$form2" 740 340 # 公园风光
sleep 1
import -window "$form2" "$out/form2-park.png"
click_in "$form2" 740 380 # 退出
wait "$PID" || true

# Twice the scale: the text, the Earth and the scenery must stay sharp.
SCALE=2
QT_SCALE_FACTOR=$SCALE ./build/bin/orbitale 2>/dev/null &
PID=$!
form1=$(wait_window "地球公转 Tavelin")
xdotool windowsize "$form1" $((800 * SCALE)) $((520 * SCALE))
sleep 0.5
click_in "$form1" 740 348 # 蓝天白云
sleep 1
import -window "$form1" "$out/form1-2x.png"
click_in "$form1" 740 388 # 退出
wait "$PID" || true
ls -la "$out"
