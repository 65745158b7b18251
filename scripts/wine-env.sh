# Sourced by the other scripts: private Wine prefixes inside the build
# folder, quiet Wine, and a display (the user's, else a virtual one).
# Needs KORVANE_ROOT set to the project root.
#
# Two kinds of Wine: the 32-bit one runs the program users get, but some
# kernels cannot execute 32-bit Linux programs at all; the 64-bit one runs
# the 64-bit build of the same sources there. /usr/bin/wine always picks the
# 32-bit loader when it is installed, so each loader is called by its path,
# and each kind gets a prefix of its own (a prefix is made for one kind).

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

KORVANE_WINE32_LOADER=/usr/lib/wine/wine
KORVANE_WINE64_LOADER=/usr/lib/wine/wine64

# True when this machine can execute the 32-bit Wine loader.
korvane_can_run_32bit() {
    [ -x "$KORVANE_WINE32_LOADER" ] && "$KORVANE_WINE32_LOADER" --version >/dev/null 2>&1
}

# Says in one line why 32-bit programs can't run here.
korvane_32bit_reason() {
    local why
    why=$("$KORVANE_WINE32_LOADER" --version 2>&1 | tail -n 1 | sed "s/.*: //")
    echo "this machine cannot execute 32-bit programs (${why:-no 32-bit Wine})"
}

# korvane_use_wine 32|64 [PREFIX_BASE]: selects the Wine kind. The prefix is
# PREFIX_BASE (default build/wine-prefix) for 32-bit and PREFIX_BASE-64 for
# 64-bit. Afterwards "$KORVANE_WINE" is the loader to start programs with,
# and KORVANE_BUILD the build folder whose programs it runs.
korvane_use_wine() {
    local base=${2:-$KORVANE_ROOT/build/wine-prefix}
    if [ "$1" = 32 ]; then
        export WINEARCH=win32 WINEPREFIX="$base"
        export WINELOADER=$KORVANE_WINE32_LOADER
        KORVANE_BUILD=$KORVANE_ROOT/build/win
    else
        export WINEARCH=win64 WINEPREFIX="$base-64"
        export WINELOADER=$KORVANE_WINE64_LOADER
        KORVANE_BUILD=$KORVANE_ROOT/build/win64
    fi
    KORVANE_WINE=$WINELOADER
    KORVANE_WINE_BITS=$1
}

# The kind this machine runs best for the program users get: 32-bit where
# it can, else 64-bit.
korvane_use_best_wine() {
    if korvane_can_run_32bit; then
        korvane_use_wine 32 "$@"
    else
        korvane_use_wine 64 "$@"
    fi
}

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

# Ends the Wine processes of the current prefix and waits for them.
korvane_stop_wine() {
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
}

# Makes the current prefix ready: "MS Shell Dlg" mapped to a Japanese font
# so that the dialog's texts are legible, the theme off, and the settings of
# any .reg files named in KORVANE_EXTRA_REG. The stamp holds a digest of
# every .reg file, so a prefix made before one of them changed takes the new
# settings the next time (importing a .reg file again is harmless). The
# display must already be set, or GUI programs started in the prefix later
# exit at once.
korvane_ensure_prefix() {
    local regs=("$KORVANE_ROOT/scripts/japanese-font.reg" "$KORVANE_ROOT/scripts/no-theme.reg")
    local extra
    for extra in ${KORVANE_EXTRA_REG:-}; do regs+=("$extra"); done
    local digest
    digest=$(cat "${regs[@]}" | sha256sum | cut -d' ' -f1)
    local stamp="$WINEPREFIX/.korvane-ready"
    if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$digest" ]; then
        return 0
    fi
    mkdir -p "$WINEPREFIX"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        "$KORVANE_WINE" wineboot -i >/dev/null 2>&1
    fi
    for extra in "${regs[@]}"; do
        "$KORVANE_WINE" regedit /S "$extra" >/dev/null 2>&1
    done
    wineserver -w
    echo "$digest" >"$stamp"
}
