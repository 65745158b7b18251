#!/usr/bin/env bash
# The test command: installs what is needed, builds every build and runs
# every test. The Windows tests run under the Wine of the project's root
# (scripts/wine.sh) in private prefixes, on a virtual display: the 32-bit
# program's whole suite the machine's own way (WoW64 mode where it executes
# 32-bit code, else under qemu-i386), then again in the Japanese locale,
# always under qemu-i386, so that both ways run wherever both can; then the
# 64-bit twin's suite once. A way that cannot run the 32-bit probe as it
# claims fails the test command; where neither way runs 32-bit programs at
# all, the 32-bit program gets its static checks and the 64-bit suite runs
# alone. The native tests include the fuzzer.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh || exit 1
bash scripts/build.sh || exit 1

export KORVANE_ROOT="$root"
# The tests' prefixes: their windows are not managed by a window manager
# (without one, Wine waits on every window it hides for an answer that never
# comes), and a crash never waits for a debugger.
export KORVANE_EXTRA_REG="$root/tests/wine-test.reg"
# shellcheck source=wine-env.sh
source scripts/wine-env.sh
unset DISPLAY   # the tests open windows: keep them off the user's screen
korvane_ensure_display || exit 1
trap korvane_stop_display EXIT

status=0
wine_version=$(korvane_wine_version)

# windows_tests BUILD_DIR PREFIX HEADING [CTEST_ARGS...]: one build's tests
# in one prefix.
windows_tests() {
    local build=$1 prefix=$2 heading=$3
    shift 3
    echo "== Windows tests: $heading, under $wine_version"
    korvane_use_prefix "$prefix"
    korvane_ensure_prefix || { status=1; return; }
    (cd "$build" && ctest --output-on-failure --no-tests=error --timeout 900 "$@") || status=1
    korvane_stop_wine
}

# The probe runs in the prefix of the first pass, made ready first.
korvane_use_prefix "$root/build/wine10-test-prefix"
korvane_ensure_prefix || status=1
own_mode=$(korvane_machine_mode)
declare -A runs reason
for mode in "$own_mode" emulated; do
    [ -n "${runs[$mode]:-}" ] && continue
    runs[$mode]=1
    korvane_can_run_32bit "$mode" && continue
    runs[$mode]=0
    reason[$mode]=$(korvane_32bit_reason "$mode")
done
korvane_stop_wine

if [ "${runs[$own_mode]}${runs[emulated]}" = 00 ]; then
    reasons=$(printf '%s; ' "${reason[@]}")
    echo "== 32-bit Windows tests skipped: neither way runs 32-bit programs here: ${reasons%; }"
    # The program users get is still checked without running it: its
    # imports, that it builds the same elsewhere, and its archive.
    (cd build/win && ctest --output-on-failure --no-tests=error -L static) || status=1
else
    # A way that fails here while the other runs is broken, not missing.
    if [ "${runs[$own_mode]}" = 1 ]; then
        KORVANE_WINE_MODE=$own_mode windows_tests build/win "$root/build/wine10-test-prefix" \
            "32-bit program (build/win, $(korvane_mode_text "$own_mode"))"
    else
        echo "== FAILED: ${reason[$own_mode]}"
        status=1
    fi
    # Once more as Japanese users run it, in the Japanese locale and a prefix
    # of its own (a prefix takes its locale when it is made): Wine's ANSI
    # code page is then 932, which a test checks (KORVANE_ANSI_CODE_PAGE).
    # Always under qemu-i386, so that way runs wherever the tests run. The
    # static checks need no second pass.
    if [ "${runs[emulated]}" = 1 ]; then
        (
            export KORVANE_WINE_MODE=emulated
            export KORVANE_WINE_LOCALE=ja_JP.UTF-8 KORVANE_ANSI_CODE_PAGE=932
            windows_tests build/win "$root/build/wine10-test-prefix-ja" \
                "32-bit program (build/win, $(korvane_mode_text emulated)), Japanese locale" -LE static
            exit $status
        ) || status=1
    else
        echo "== FAILED: ${reason[emulated]}"
        status=1
    fi
fi
windows_tests build/win64 "$root/build/wine10-test-prefix" "64-bit twin (build/win64)"

echo "== Native tests"
(cd build/native && ctest --output-on-failure --no-tests=error --timeout 900) || status=1
exit $status
