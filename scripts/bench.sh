#!/usr/bin/env bash
# Builds and runs the benchmarks; they are not part of the test suite.
#   scripts/bench.sh                  all four
#   scripts/bench.sh unwrap convert   some of: unwrap convert drop run
# unwrap runs natively; convert, drop and run are Windows programs run under
# Wine in the tests' prefix, on a virtual display: the 32-bit build where
# this machine can execute 32-bit programs, else the 64-bit build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
names=("$@")
[ ${#names[@]} -gt 0 ] || names=(unwrap convert drop run)

bash scripts/install-deps.sh >/dev/null
bash scripts/build.sh >/dev/null

export KORVANE_ROOT="$root"
export KORVANE_EXTRA_REG="$root/tests/wine-test.reg"
# shellcheck source=wine-env.sh
source scripts/wine-env.sh
unset DISPLAY
korvane_ensure_display
trap korvane_stop_display EXIT
korvane_use_best_wine "$root/build/wine-test-prefix"
if [ "$KORVANE_WINE_BITS" = 32 ]; then
    echo "Windows benchmarks: 32-bit build under 32-bit Wine"
else
    echo "Windows benchmarks: 64-bit build under 64-bit Wine: $(korvane_32bit_reason)"
fi
korvane_ensure_prefix

theme_key='HKCU\Software\Microsoft\Windows\CurrentVersion\ThemeManager'
set_theme() { # 0 or 1
    "$KORVANE_WINE" reg add "$theme_key" /v ThemeActive /t REG_SZ /d "$1" /f >/dev/null 2>&1
    wineserver -w
}

# The run benchmark once more with Wine's theme on, for information: the
# prefix is put back to theme off whatever happens.
run_with_theme() {
    trap 'set_theme 0; korvane_stop_display' EXIT
    set_theme 1
    echo "== run, with Wine's theme on (for information)"
    "$KORVANE_WINE" "$KORVANE_BUILD/bench_run.exe" info
    set_theme 0
    trap korvane_stop_display EXIT
}

status=0
for name in "${names[@]}"; do
    echo "== $name"
    case $name in
        unwrap) build/native/bench_unwrap || status=1 ;;
        convert | drop) "$KORVANE_WINE" "$KORVANE_BUILD/bench_$name.exe" || status=1 ;;
        run)
            "$KORVANE_WINE" "$KORVANE_BUILD/bench_run.exe" || status=1
            run_with_theme || status=1
            ;;
        *) echo "unknown benchmark: $name" >&2; exit 1 ;;
    esac
done
exit $status
