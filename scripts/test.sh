#!/usr/bin/env bash
# The test command: installs what is needed, builds every build and runs
# every test. The Windows tests run under Wine in private prefixes, on a
# virtual display: the 64-bit build's always, the 32-bit build's where this
# machine can execute 32-bit programs. The native tests include the fuzzer.
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

# Runs one Windows build's tests under the Wine of its kind (32 or 64), in
# the prefix PREFIX_BASE (default build/wine-test-prefix), with a NOTE for
# the heading: windows_tests 32|64 [PREFIX_BASE [NOTE]]
windows_tests() {
    korvane_use_wine "$1" "${2:-$root/build/wine-test-prefix}"
    echo "== Windows tests: $1-bit build under $1-bit Wine${3:+, $3}"
    korvane_ensure_prefix || { status=1; return; }
    (cd "$KORVANE_BUILD" && ctest --output-on-failure --no-tests=error --timeout 900) || status=1
    korvane_stop_wine
}

if korvane_can_run_32bit; then
    windows_tests 32
else
    echo "== 32-bit Windows tests skipped: $(korvane_32bit_reason)"
    # The program users get is still checked without running it: its
    # imports, that it builds the same elsewhere, and its archive.
    (cd build/win && ctest --output-on-failure --no-tests=error -L static) || status=1
fi
windows_tests 64
# Once more as Japanese users run it, in the Japanese locale and a prefix
# of its own (a prefix takes its locale when it is made): Wine's ANSI code
# page is then 932, which a test checks (KORVANE_ANSI_CODE_PAGE).
(
    export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 KORVANE_ANSI_CODE_PAGE=932
    windows_tests 64 "$root/build/wine-test-prefix-ja" "Japanese locale"
    exit $status
) || status=1

echo "== Native tests"
(cd build/native && ctest --output-on-failure --no-tests=error --timeout 900) || status=1
exit $status
