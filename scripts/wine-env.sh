# Sourced by the other scripts: a private Wine prefix inside the build
# folder, quiet Wine, and a display (the user's, else a virtual one).
# Needs KORVANE_ROOT set to the project root.

export WINEPREFIX="${KORVANE_WINEPREFIX:-$KORVANE_ROOT/build/wine-prefix}"
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# Starts Xvfb on a free display number when there is no display to use.
korvane_ensure_display() {
    if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
        return 0
    fi
    local n=99
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    KORVANE_XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 1 50); do
        xdpyinfo >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    echo "Xvfb did not start" >&2
    return 1
}

korvane_stop_display() {
    if [ -n "${KORVANE_XVFB_PID:-}" ]; then
        kill "$KORVANE_XVFB_PID" 2>/dev/null || true
        wait "$KORVANE_XVFB_PID" 2>/dev/null || true
    fi
}

# Creates the prefix once, with "MS Shell Dlg" mapped to a Japanese font so
# that the dialog's texts are legible, and the settings of any .reg files
# named in KORVANE_EXTRA_REG. The display must already be set, or
# GUI programs started in the prefix later exit at once.
korvane_ensure_prefix() {
    if [ -f "$WINEPREFIX/.korvane-ready" ]; then
        return 0
    fi
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wine regedit /S "$KORVANE_ROOT/scripts/japanese-font.reg" >/dev/null 2>&1
    local extra
    for extra in ${KORVANE_EXTRA_REG:-}; do
        wine regedit /S "$extra" >/dev/null 2>&1
    done
    wineserver -w
    touch "$WINEPREFIX/.korvane-ready"
}
