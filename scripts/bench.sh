#!/usr/bin/env bash
# Builds and runs the benchmarks; they are not part of the test suite.
#   scripts/bench.sh                  all five
#   scripts/bench.sh unwrap convert   some of: unwrap convert check drop run
# unwrap runs natively; convert, check, drop and run are Windows programs run under
# the Wine of the project's root (scripts/wine.sh) in the tests' prefix, on a
# virtual display: the 32-bit program users get, in Wine's WoW64 mode. Where
# the machine runs no 32-bit code, the 32-bit program would run under
# qemu-i386, and timings taken there measure the emulator: the 64-bit build
# runs instead, natively, and the first line says so.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
names=("$@")
[ ${#names[@]} -gt 0 ] || names=(unwrap convert check drop run)

bash scripts/install-deps.sh >/dev/null
bash scripts/build.sh >/dev/null

export KORVANE_ROOT="$root"
export KORVANE_EXTRA_REG="$root/tests/wine-test.reg"
# shellcheck source=wine-env.sh
source scripts/wine-env.sh
unset DISPLAY
korvane_ensure_display
trap korvane_stop_display EXIT
korvane_use_prefix "$root/build/wine10-test-prefix"
korvane_ensure_prefix
mode=$(korvane_machine_mode)
if [ "$mode" = wow64 ] && korvane_can_run_32bit wow64; then
    build=$root/build/win
    echo "Windows benchmarks: 32-bit build under $(korvane_wine_version), WoW64 mode"
else
    build=$root/build/win64
    if [ "$mode" = wow64 ]; then
        why=$(korvane_32bit_reason wow64)
    else
        why="the 32-bit program would run under qemu-i386 here, and the timings would measure the emulator"
    fi
    echo "Windows benchmarks: 64-bit build, natively, under $(korvane_wine_version): $why"
fi

theme_key='HKCU\Software\Microsoft\Windows\CurrentVersion\ThemeManager'
set_theme() { # 0 or 1
    "$KORVANE_WINE" reg add "$theme_key" /v ThemeActive /t REG_SZ /d "$1" /f >/dev/null 2>&1
}

# The run benchmark once more with Wine's theme on, for information: the
# prefix is put back to theme off whatever happens.
run_with_theme() {
    trap 'set_theme 0; korvane_stop_display' EXIT
    set_theme 1
    echo "== run, with Wine's theme on (for information)"
    "$KORVANE_WINE" "$build/bench_run.exe" info
    set_theme 0
    trap korvane_stop_display EXIT
}

status=0
for name in "${names[@]}"; do
    echo "== $name"
    case $name in
        unwrap) build/native/bench_unwrap || status=1 ;;
        convert | check | drop) "$KORVANE_WINE" "$build/bench_$name.exe" || status=1 ;;
        run)
            "$KORVANE_WINE" "$build/bench_run.exe" || status=1
            run_with_theme || status=1
            ;;
        *) echo "unknown benchmark: $name" >&2; exit 1 ;;
    esac
done
exit $status
