#!/usr/bin/env bash
# Builds Korvane and starts it under Wine: on your display when there is
# one (it runs until you close it), else on a virtual display. Either way a
# screenshot of the window is saved to screenshots/korvane.png (or to the
# path given as the first argument). It starts the 32-bit program users get
# where this machine can execute 32-bit programs, else the 64-bit build of
# the same sources, and says which.
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
korvane_use_best_wine
if [ "$KORVANE_WINE_BITS" = 32 ]; then
    echo "starting the 32-bit program (build/win/Korvane.exe)"
else
    echo "starting the 64-bit build (build/win64/Korvane.exe): $(korvane_32bit_reason)"
fi
korvane_ensure_prefix

"$KORVANE_WINE" "$KORVANE_BUILD/Korvane.exe" &
program=$!
window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Korvane$' | head -n 1)
sleep 1   # let the dialog finish painting
import -window "$window" "$shot"
echo "screenshot of the Korvane window: $shot"

if [ "$virtual" = 1 ]; then
    # Nobody can use a window on a virtual display: end the program.
    korvane_stop_wine
    korvane_stop_display
else
    wait "$program" || true
fi
