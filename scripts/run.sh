#!/usr/bin/env bash
# Builds Korvane and starts it under Wine: on your display when there is
# one (it runs until you close it), else on a virtual display. Either way a
# screenshot of the window is saved to screenshots/korvane.png (or to the
# path given as the first argument).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
shot=${1:-$root/screenshots/korvane.png}
mkdir -p "$(dirname "$shot")"

bash scripts/install-deps.sh
KORVANE_SKIP_NATIVE=1 bash scripts/build.sh --target Korvane

export KORVANE_ROOT="$root"
# shellcheck source=wine-env.sh
source scripts/wine-env.sh
virtual=0
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
    virtual=1
fi
korvane_ensure_display
korvane_ensure_prefix

wine build/win/Korvane.exe &
program=$!
window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Korvane$' | head -n 1)
sleep 1   # let the dialog finish painting
import -window "$window" "$shot"
echo "screenshot of the Korvane window: $shot"

if [ "$virtual" = 1 ]; then
    # Nobody can use a window on a virtual display: end the program.
    wineserver -k 2>/dev/null || true
    korvane_stop_display
else
    wait "$program" || true
fi
