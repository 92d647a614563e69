# shellcheck shell=bash
# Sourced by the scripts that need a private X server: start_xvfb starts
# Xvfb, exports DISPLAY (and no session bus), and stop_xvfb stops it (call it
# when the script ends). XVFB_SCREEN sets the screen's size and depth
# (1024x768x24 by default).
# Xvfb takes the first free display itself and reports it on a pipe once it
# takes connections, so no display number is guessed and no other server can
# be taken for ours.
XVFB_PID=
stop_xvfb() { [[ -n "$XVFB_PID" ]] && kill "$XVFB_PID" 2>/dev/null || true; }
start_xvfb() {
    local dir fd number=
    dir=$(mktemp -d)
    mkfifo "$dir/display"
    Xvfb -displayfd 3 -screen 0 "${XVFB_SCREEN:-1024x768x24}" -nolisten tcp -noreset 3>"$dir/display" 2>/dev/null &
    XVFB_PID=$!
    # Opening the reading end waits for Xvfb to open the writing end; the read
    # ends at its newline, or at end of file if Xvfb exits first.
    exec {fd}<"$dir/display"
    read -r -t 30 -u "$fd" number || true
    exec {fd}<&-
    rm -rf "$dir"
    if [[ ! "$number" =~ ^[0-9]+$ ]] || ! kill -0 "$XVFB_PID" 2>/dev/null; then
        stop_xvfb
        XVFB_PID=
        echo "could not start Xvfb" >&2
        return 1
    fi
    export DISPLAY=":$number"
    # Nor a session bus: the program would otherwise connect to the one of
    # the session the script runs in, or have dbus-x11 launch one.
    export DBUS_SESSION_BUS_ADDRESS=disabled:
}
