# Sourced by the scripts that need a private X server: start_xvfb starts
# Xvfb on a free display, exports DISPLAY, and stops it when the script ends.
# XVFB_SCREEN sets the screen's size and depth (1024x768x24 by default).
XVFB_PID=
stop_xvfb() { [[ -n "$XVFB_PID" ]] && kill "$XVFB_PID" 2>/dev/null || true; }
start_xvfb() {
    local n
    for n in $(seq 90 140); do
        [[ -e /tmp/.X$n-lock ]] && continue
        Xvfb ":$n" -screen 0 "${XVFB_SCREEN:-1024x768x24}" -nolisten tcp -noreset 2>/dev/null &
        XVFB_PID=$!
        export DISPLAY=":$n"
        for _ in $(seq 100); do
            xdotool getmouselocation >/dev/null 2>&1 && return 0
            kill -0 "$XVFB_PID" 2>/dev/null || break
            sleep 0.05
        done
        kill "$XVFB_PID" 2>/dev/null || true
        XVFB_PID=
    done
    echo "could not start Xvfb" >&2
    return 1
}
