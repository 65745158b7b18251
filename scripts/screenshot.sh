#!/usr/bin/env bash
# Makes the README's picture of the window, docs/korvane.png (or the path
# given as the first argument): the 32-bit program users get, on a virtual
# display at the default DPI, after a run over a few files with different
# outcomes (tests/screenshot_scene.cpp sets the scene).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
shot=${1:-$root/docs/korvane.png}
mkdir -p "$(dirname "$shot")"

bash scripts/install-deps.sh >/dev/null
KORVANE_SKIP_NATIVE=1 KORVANE_WINDOWS_BUILDS=i686:win bash scripts/build.sh \
    --target Korvane --target screenshot_scene >/dev/null

export KORVANE_ROOT="$root"
# shellcheck source=wine-env.sh
source scripts/wine-env.sh
unset DISPLAY
korvane_ensure_display
trap korvane_stop_display EXIT
korvane_use_prefix "$root/build/wine10-prefix"
korvane_ensure_prefix
echo "the 32-bit program under $(korvane_wine_version), $(korvane_mode_text "$(korvane_machine_mode)")"

fifo=$(mktemp -u)
mkfifo "$fifo"
"$KORVANE_WINE" "$root/build/win/screenshot_scene.exe" 'Z:'"${root//\//\\}"'\build\win\Korvane.exe' >"$fifo" &
scene=$!
exec 3<"$fifo"
rm -f "$fifo"
status=1
if read -r -t 60 line <&3 && [[ $line == ready* ]]; then
    window=$(xdotool search --onlyvisible --name '^Korvane' | head -n 1)
    sleep 1   # let the list finish painting
    import -window "$window" "$shot"
    echo "picture of the window: $shot"
    status=0
else
    echo "screenshot.sh: the scene was not set" >&2
fi
touch "$WINEPREFIX/drive_c/Korvane/picture-taken" 2>/dev/null || true
wait "$scene" || status=1
exit $status
