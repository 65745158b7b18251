# Sourced by the other scripts: private Wine prefixes inside the build
# folder, quiet Wine, and a display (the user's, else a virtual one).
# Needs KORVANE_ROOT set to the project root.
#
# Every Windows program runs through scripts/wine.sh, under the one Wine of
# the project's root (Wine 10; 32-bit programs in its WoW64 mode, or under
# qemu-i386 where the machine runs no 32-bit code), so the program users
# get, the 32-bit one, runs on every machine. Its prefixes are 64-bit ones,
# which run both builds either way.

export WINEDEBUG=-all
# No .NET or HTML engine to install, and no sound: nothing here plays any,
# and the PulseAudio driver complains without a user session.
export WINEDLLOVERRIDES="mscoree,mshtml,winepulse.drv="
unset WINEARCH WINELOADER WINESERVER

KORVANE_WINE=$KORVANE_ROOT/scripts/wine.sh

# The Wine version of the root, as one line.
korvane_wine_version() {
    "$KORVANE_WINE" --version 2>/dev/null || echo "no Wine"
}

# The way this machine runs 32-bit programs (scripts/wine.sh): wow64 where
# it executes 32-bit code, emulated where it does not, unless
# KORVANE_WINE_MODE forces one.
korvane_machine_mode() {
    "$KORVANE_WINE" --mode
}

# korvane_mode_text MODE: the way in words, for the lines the scripts print.
korvane_mode_text() {
    case $1 in
        wow64) echo "WoW64 mode" ;;
        emulated) echo "32-bit Wine under qemu-i386" ;;
        *) echo "$1" ;;
    esac
}

# korvane_can_run_32bit MODE: runs the tiny 32-bit probe program that way;
# true when it ran as a 32-bit process, and, for the emulated way, on
# qemu's processor (Wine could otherwise have run it in WoW64 mode).
# KORVANE_PROBE_OUTPUT keeps what it (or Wine) printed, for the reason why.
korvane_can_run_32bit() {
    KORVANE_PROBE_OUTPUT=$(KORVANE_WINE_MODE=$1 "$KORVANE_WINE" \
        "$KORVANE_ROOT/build/win/bits_probe.exe" 2>&1)
    case $KORVANE_PROBE_OUTPUT in *"32-bit process"*) ;; *) return 1 ;; esac
    case $1:$KORVANE_PROBE_OUTPUT in emulated:*"CPU QEMU"* | wow64:*) return 0 ;; esac
    return 1
}

# korvane_32bit_reason MODE: says in one line why the probe failed that way.
korvane_32bit_reason() {
    local why
    why=$(printf '%s\n' "$KORVANE_PROBE_OUTPUT" | grep -v '^$' | tail -n 1)
    echo "the 32-bit probe did not run as a 32-bit program by way of $(korvane_mode_text "$1") here (${why:-the probe printed nothing})"
}

# korvane_use_prefix PREFIX: the prefix the next programs run in.
korvane_use_prefix() {
    export WINEPREFIX="$1"
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

# Ends the Wine processes of the current prefix; every call of wine.sh then
# returns, having waited for them.
korvane_stop_wine() {
    "$KORVANE_WINE" wineserver -k 2>/dev/null || true
}

# Makes the current prefix ready: "MS Shell Dlg" mapped to a Japanese font
# so that the dialog's texts are legible, the theme off, and the settings of
# any .reg files named in KORVANE_EXTRA_REG. The stamp holds a digest of
# every .reg file and of the Wine root's stamp, so a prefix made before one
# of them changed takes the new settings the next time (importing a .reg
# file again is harmless, and Wine updates a prefix of an older version). The
# display must already be set, or GUI programs started in the prefix later
# exit at once.
korvane_ensure_prefix() {
    local regs=("$KORVANE_ROOT/scripts/japanese-font.reg" "$KORVANE_ROOT/scripts/no-theme.reg")
    local extra
    for extra in ${KORVANE_EXTRA_REG:-}; do regs+=("$extra"); done
    local digest
    digest=$(cat "${regs[@]}" "$(bash "$KORVANE_ROOT/scripts/wine-root.sh" --path)/.korvane-root-stamp" |
        sha256sum | cut -d' ' -f1)
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
    echo "$digest" >"$stamp"
}
