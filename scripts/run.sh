#!/usr/bin/env bash
# Builds Korvane and starts it under Wine: on your display when there is
# one (it runs until you close it), else on a virtual display. Either way a
# screenshot of the window is saved to screenshots/korvane.png (or to the
# path given as the first argument). It starts the 32-bit program users get
# under the Wine of the project's root (scripts/wine.sh): in Wine's WoW64
# mode where the machine executes 32-bit code, else as the 32-bit Wine under
# qemu-i386; it says which Wine and which way.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
shot=${1:-$root/screenshots/korvane.png}
mkdir -p "$(dirname "$shot")"

bash scripts/install-deps.sh
KORVANE_SKIP_NATIVE=1 KORVANE_WINDOWS_BUILDS=i686:win bash scripts/build.sh --target Korvane

export KORVANE_ROOT="$root"
# shellcheck source=wine-env.sh
source scripts/wine-env.sh
virtual=0
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
    virtual=1
fi
korvane_ensure_display
korvane_use_prefix "$root/build/wine10-prefix"
echo "starting the 32-bit program (build/win/Korvane.exe) under $(korvane_wine_version)," \
    "$(korvane_mode_text "$(korvane_machine_mode)")"
korvane_ensure_prefix

"$KORVANE_WINE" "$root/build/win/Korvane.exe" &
program=$!
window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Korvane$' | head -n 1)
sleep 1   # let the dialog finish painting
import -window "$window" "$shot"
echo "screenshot of the Korvane window: $shot"

if [ "$virtual" = 1 ]; then
    # Nobody can use a window on a virtual display: end the program.
    korvane_stop_wine
    wait "$program" || true
    korvane_stop_display
else
    wait "$program" || true
fi
