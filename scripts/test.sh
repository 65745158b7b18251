#!/usr/bin/env bash
# The test command: installs what is needed, builds both builds and runs
# every test. The Windows tests run under Wine in a private prefix, on the
# display given or on a virtual one; the native tests include the fuzzer.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh || exit 1
bash scripts/build.sh || exit 1

export KORVANE_ROOT="$root"
# A prefix of the tests' own: its windows are not managed by a window
# manager (without one, Wine waits on every window it hides for an answer
# that never comes), and a crash never waits for a debugger.
export KORVANE_WINEPREFIX="$root/build/wine-test-prefix"
export KORVANE_EXTRA_REG="$root/tests/wine-test.reg"
# shellcheck source=wine-env.sh
source scripts/wine-env.sh
unset DISPLAY   # the tests open windows: keep them off the user's screen
korvane_ensure_display || exit 1
trap korvane_stop_display EXIT
korvane_ensure_prefix

status=0
(cd build/win && ctest --output-on-failure --timeout 900) || status=1
wineserver -k 2>/dev/null || true
(cd build/native && ctest --output-on-failure --timeout 900) || status=1
exit $status
