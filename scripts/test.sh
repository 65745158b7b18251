#!/usr/bin/env bash
# The test command: installs what is needed, builds every build and runs
# every test. The Windows tests run under the Wine of the project's root
# (scripts/wine.sh) in private prefixes, on a virtual display: the 32-bit
# program's whole suite, then again in the Japanese locale, then the 64-bit
# twin's suite once. Where even that Wine cannot run 32-bit programs, the
# 32-bit program gets its static checks and the 64-bit suite runs alone.
# The native tests include the fuzzer.
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

if korvane_can_run_32bit; then
    windows_tests build/win "$root/build/wine10-test-prefix" \
        "32-bit program (build/win, WoW64 mode)"
    # Once more as Japanese users run it, in the Japanese locale and a prefix
    # of its own (a prefix takes its locale when it is made): Wine's ANSI
    # code page is then 932, which a test checks (KORVANE_ANSI_CODE_PAGE).
    # The static checks need no second pass.
    (
        export KORVANE_WINE_LOCALE=ja_JP.UTF-8 KORVANE_ANSI_CODE_PAGE=932
        windows_tests build/win "$root/build/wine10-test-prefix-ja" \
            "32-bit program (build/win, WoW64 mode), Japanese locale" -LE static
        exit $status
    ) || status=1
else
    echo "== 32-bit Windows tests skipped: $(korvane_32bit_reason)"
    # The program users get is still checked without running it: its
    # imports, that it builds the same elsewhere, and its archive.
    (cd build/win && ctest --output-on-failure --no-tests=error -L static) || status=1
fi
windows_tests build/win64 "$root/build/wine10-test-prefix" "64-bit twin (build/win64)"

echo "== Native tests"
(cd build/native && ctest --output-on-failure --no-tests=error --timeout 900) || status=1
exit $status
