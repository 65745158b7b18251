#!/usr/bin/env bash
# Builds and runs the benchmarks; they are not part of the test suite.
#   scripts/bench.sh                  all four
#   scripts/bench.sh unwrap convert   some of: unwrap convert drop run
# unwrap runs natively; convert, drop and run are Windows programs run under
# Wine in the tests' prefix, on a virtual display.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
names=("$@")
[ ${#names[@]} -gt 0 ] || names=(unwrap convert drop run)

bash scripts/install-deps.sh >/dev/null
bash scripts/build.sh >/dev/null

export KORVANE_ROOT="$root"
export KORVANE_WINEPREFIX="$root/build/wine-test-prefix"
export KORVANE_EXTRA_REG="$root/tests/wine-test.reg"
# shellcheck source=wine-env.sh
source scripts/wine-env.sh
unset DISPLAY
korvane_ensure_display
trap korvane_stop_display EXIT
korvane_ensure_prefix

for name in "${names[@]}"; do
    echo "== $name"
    case $name in
        unwrap) build/native/bench_unwrap ;;
        convert | drop | run) wine "build/win/bench_$name.exe" ;;
        *) echo "unknown benchmark: $name" >&2; exit 1 ;;
    esac
done
