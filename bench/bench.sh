#!/usr/bin/env bash
# make bench: every figure in one run.
#  1. one tick beside the sine and cosine pair it uses, with the fast
#     trigonometry and with the portable one;
#  2. the cadence of the real Form1 timer over 600 ticks;
#  3. the whole program under Xvfb (window 800 x 520) beside a minimal Qt
#     program drawing the same scene: start-up, CPU share, peak memory;
#  4. picture loading: photos of every format beside the format's own
#     decoder decoding them whole, the largest photos, and files made to take time or
#     memory (each verdict within 1 s, each process under 300 MiB).
set -euo pipefail
cd "$(dirname "$0")/.."
B=build
SECONDS_CPU=${BENCH_CPU_SECONDS:-30}
STARTS=${BENCH_STARTS:-7}

echo "== machine: $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2/1048576}' /proc/meminfo), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"

echo "== 1. the tick"
"$B/bench/tick_bench" --benchmark_min_time=1 --benchmark_color=false 2>/dev/null | tail -n 8

echo "== 2. Form1's timer"
"$B/bench/cadence_bench" 600

echo "== 3. the whole program under Xvfb"
work=$(mktemp -d)
source scripts/xvfb.sh
trap 'stop_xvfb; rm -rf "$work"' EXIT
start_xvfb
mkdir -p "$work/runtime" && chmod 700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime"

# A copy of the build tree whose Earth holds still: its first frame only.
mkdir -p "$work/still/bin"
cp "$B/bin/orbitale" "$work/still/bin/"
cp -r "$B/share" "$B/libexec" "$work/still/"
convert "$B/share/orbitale/drives/E/VB/dq3.gif[0]" "$work/still/share/orbitale/drives/E/VB/dq3.gif"
convert "$B/share/orbitale/drives/E/VB/dq3.gif[0]" "$work/earth.png"

now_ms() { date +%s%3N; }

# start NAME-PATTERN COMMAND...: starts it; sets PID and START_MS (time to shown).
start() {
    local pattern=$1
    shift
    local t0
    t0=$(now_ms)
    "$@" 2>/dev/null &
    PID=$!
    until xdotool search --onlyvisible --name "$pattern" >/dev/null 2>&1; do sleep 0.005; done
    START_MS=$(($(now_ms) - t0))
}

stop() { kill "$PID" 2>/dev/null || true; wait "$PID" 2>/dev/null || true; }

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

measure() { # LABEL PATTERN COMMAND...
    local label=$1 pattern=$2
    shift 2
    local starts=()
    for _ in $(seq "$STARTS"); do
        start "$pattern" "$@"
        starts+=("$START_MS")
        stop
    done
    local start_ms
    start_ms=$(printf '%s\n' "${starts[@]}" | median)
    start "$pattern" "$@"
    local window
    window=$(xdotool search --onlyvisible --name "$pattern" | head -1)
    xdotool windowsize "$window" 800 520
    sleep 2
    local hz t0 t1
    hz=$(getconf CLK_TCK)
    t0=$(awk '{print $14 + $15}' "/proc/$PID/stat")
    sleep "$SECONDS_CPU"
    t1=$(awk '{print $14 + $15}' "/proc/$PID/stat")
    local hwm
    hwm=$(awk '/VmHWM/ {print $2}' "/proc/$PID/status")
    stop
    local cpu
    cpu=$(awk -v a="$t0" -v b="$t1" -v hz="$hz" -v s="$SECONDS_CPU" 'BEGIN {printf "%.3f", 100 * (b - a) / hz / s}')
    printf '%-28s start-up %5s ms   CPU %6s %%   peak RSS %7s KiB\n' "$label" "$start_ms" "$cpu" "$hwm"
    eval "${label//[^a-zA-Z]/}_start=$start_ms ${label//[^a-zA-Z]/}_cpu=$cpu ${label//[^a-zA-Z]/}_rss=$hwm"
}

measure "minimal" "^bench-minimal$" "$B/bench/bench-minimal" "$work/earth.png"
measure "orbitale (still Earth)" "地球公转 Tavelin" "$work/still/bin/orbitale"
measure "orbitale (spinning Earth)" "地球公转 Tavelin" "$B/bin/orbitale"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN {if (b > 0) printf "%.2f", a / b; else print "n/a"}'; }
echo "ratios to the minimal program (goals: start-up <= 1.5, CPU <= 1.25 with a still Earth, memory <= 1.4):"
echo "  still Earth:    start-up $(ratio "$orbitalestillEarth_start" "$minimal_start"), CPU $(ratio "$orbitalestillEarth_cpu" "$minimal_cpu"), memory $(ratio "$orbitalestillEarth_rss" "$minimal_rss")"
echo "  spinning Earth: start-up $(ratio "$orbitalespinningEarth_start" "$minimal_start"), CPU $(ratio "$orbitalespinningEarth_cpu" "$minimal_cpu"), memory $(ratio "$orbitalespinningEarth_rss" "$minimal_rss")"

echo "== 4. picture loading (time to the verdict; peak memory of the program and of its decoding helper)"
"$B/bench/picture_bench" --benchmark_color=false 2>/dev/null | grep -E '^[a-zA-Z0-9]' | grep -v '^Benchmark' |
    sed -E 's|/[0-9]+/iterations:3/real_time||'
