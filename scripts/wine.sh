#!/usr/bin/env bash
# Runs a Windows program under the Wine of the project's root (Wine 10 of
# Debian 13, made by scripts/wine-root.sh).
#
#   scripts/wine.sh PROGRAM.exe [ARGS...]   also: wineboot, regedit, ...
#   scripts/wine.sh wineserver [ARGS...]    the root's wineserver
#   scripts/wine.sh --version               the root's Wine version
#   scripts/wine.sh --mode                  how 32-bit programs would run
#
# 32-bit programs run one of two ways, chosen once per call:
#   wow64     in the 64-bit Wine's WoW64 mode, inside a 64-bit process;
#             where the machine executes 32-bit code;
#   emulated  in the 32-bit Wine, its Linux side under qemu-i386 (the root's
#             wrapper folder is bound over /usr/lib/wine, so that every
#             32-bit process, children included, starts under qemu); where
#             the machine runs no 32-bit code at all.
# The root's tiny 32-bit probe program decides, at the cost of one exec.
# KORVANE_WINE_MODE=wow64 or =emulated forces either way on any machine.
#
# The program sees the caller's environment (WINEPREFIX, WINEDEBUG, DISPLAY,
# the tests' variables), this checkout and the prefix at the same paths, and
# /tmp, where the X display's socket and Wine's server socket are, so that
# every call on one prefix meets the same wineserver. KORVANE_WINE_LOCALE
# sets LANG and LC_ALL for Wine alone (the locale exists in the root, and
# need not exist on the host).
#
# Every mount is made inside a bwrap sandbox, a private mount namespace that
# ends with the command: before returning, the call waits for the wineserver
# of the prefix (started to end as soon as its last program does) and so for
# every Wine process in the sandbox. Nothing stays mounted inside the root,
# so removing the root never reaches into the checkout.
set -euo pipefail
checkout=$(cd "$(dirname "$0")/.." && pwd)
wine_root=$(bash "$checkout/scripts/wine-root.sh" --path)

if [ ! -f "$wine_root/.korvane-root-stamp" ]; then
    echo "wine.sh: no Wine root at $wine_root; run scripts/install-deps.sh" >&2
    exit 127
fi
if [ $# -eq 0 ]; then
    echo "usage: wine.sh PROGRAM [ARGS...]" >&2
    exit 2
fi

mode=${KORVANE_WINE_MODE:-}
case $mode in
    '')
        mode=emulated
        "$wine_root/usr/lib/korvane/ia32-probe" 2>/dev/null && mode=wow64
        ;;
    wow64 | emulated) ;;
    *)
        echo "wine.sh: KORVANE_WINE_MODE must be wow64 or emulated, not '$mode'" >&2
        exit 2
        ;;
esac
if [ "$1" = --mode ]; then
    echo "$mode"
    exit 0
fi

binds=(--bind "$checkout" "$checkout")
# Bound over a folder that exists: a mount point bwrap had to make would
# stay in the root, and an empty /usr/lib/wine/wine would break WoW64 mode.
if [ "$mode" = emulated ]; then
    binds+=(--ro-bind "$wine_root/usr/lib/korvane/wine-emulated" /usr/lib/wine)
fi
# bind_outside PATH: makes a path outside the checkout visible (a file by
# its folder); the checkout is already.
bind_outside() {
    local path=$1
    case $path/ in "$checkout"/*) return ;; esac
    [ -d "$path" ] || path=$(dirname "$path")
    binds+=(--bind "$path" "$path")
}
if [ -n "${WINEPREFIX:-}" ]; then
    mkdir -p "$WINEPREFIX"
    bind_outside "$WINEPREFIX"
fi
case $1 in /*) [ -e "$1" ] && bind_outside "$1" ;; esac
if [ -n "${XAUTHORITY:-}" ] && [ -f "$XAUTHORITY" ]; then
    binds+=(--ro-bind "$XAUTHORITY" "$XAUTHORITY")
fi
here=/
case $PWD/ in "$checkout"/* | /tmp/*) here=$PWD ;; esac

locale_env=()
if [ -n "${KORVANE_WINE_LOCALE:-}" ]; then
    locale_env=(--setenv LANG "$KORVANE_WINE_LOCALE" --setenv LC_ALL "$KORVANE_WINE_LOCALE")
fi

# Inside: a wineserver that ends as soon as its last program does, the
# command, then a wait for that wineserver, so that nothing outlives the
# call (a server some other call already started is joined and waited for).
inner='
case $1 in
    --version) exec /usr/lib/wine/wine64 --version ;;
    wineserver) shift; exec /usr/lib/wine/wineserver "$@" ;;
esac
/usr/lib/wine/wineserver -p0 2>/dev/null || true
status=0
/usr/lib/wine/wine64 "$@" || status=$?
/usr/lib/wine/wineserver -w 2>/dev/null || true
exit $status'

exec bwrap --bind "$wine_root" / --dev-bind /dev /dev --proc /proc --ro-bind /sys /sys \
    --bind /tmp /tmp "${binds[@]}" --chdir "$here" --die-with-parent \
    --setenv PATH /usr/local/bin:/usr/bin:/bin "${locale_env[@]}" \
    -- /bin/sh -c "$inner" wine "$@"
