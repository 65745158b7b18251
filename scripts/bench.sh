#!/usr/bin/env bash
# Builds and runs the benchmarks; they are not part of the test suite.
#   scripts/bench.sh                  all six
#   scripts/bench.sh unwrap convert   some of: unwrap convert check drop run memory
# unwrap runs natively; convert, check, drop, run and memory are Windows programs run under
# the Wine of the project's root (scripts/wine.sh) in the tests' prefix, on a
# virtual display: the 32-bit program users get, in Wine's WoW64 mode. Where
# the machine runs no 32-bit code, the 32-bit program would run under
# qemu-i386, and timings taken there measure the emulator: the 64-bit build
# runs instead, natively, and the first line says so.
# memory converts a wrapped file of each size in KORVANE_BENCH_MEMORY_MIB
# (MiB, default "64 1024"; up to 4095) in a process of its own, and compares
# the peaks of their resident memory.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
names=("$@")
[ ${#names[@]} -gt 0 ] || names=(unwrap convert check drop run memory)

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

# One process per size: the peak each reads of itself holds from its start.
# A conversion's memory is not to grow with the file: the aim is that all
# the peaks lie within 8 MiB of each other.
run_memory() {
    local mib line peak failed=0
    local peaks=()
    echo "peak resident memory of a process converting one wrapped WAVE, tags kept:"
    for mib in ${KORVANE_BENCH_MEMORY_MIB:-64 1024}; do
        if line=$("$KORVANE_WINE" "$build/bench_memory.exe" "$mib"); then
            echo "$line"
            peak=$(sed -n 's/.*\[peak KiB \([0-9]*\)\].*/\1/p' <<<"$line")
            peaks+=("$peak")
        else
            failed=1
        fi
    done
    if [ ${#peaks[@]} -ge 2 ]; then
        printf '%s\n' "${peaks[@]}" | awk '
            NR == 1 || $1 < low { low = $1 }
            NR == 1 || $1 > high { high = $1 }
            END {
                spread = (high - low) / 1024
                printf "  largest peak %.1f MiB - smallest %.1f MiB = %.1f MiB;" \
                    " aim at most 8 MiB: %s\n", high / 1024, low / 1024, spread,
                    spread <= 8 ? "met" : "missed"
            }'
    fi
    return $failed
}

status=0
for name in "${names[@]}"; do
    echo "== $name"
    case $name in
        unwrap) build/native/bench_unwrap || status=1 ;;
        convert | check | drop) "$KORVANE_WINE" "$build/bench_$name.exe" || status=1 ;;
        memory) run_memory || status=1 ;;
        run)
            "$KORVANE_WINE" "$build/bench_run.exe" || status=1
            run_with_theme || status=1
            ;;
        *) echo "unknown benchmark: $name" >&2; exit 1 ;;
    esac
done
exit $status
