#!/usr/bin/env bash
# Configures and builds:
#   build/win     the Windows program users get (32-bit), its tests and
#                 benchmarks (MinGW-w64, i686)
#   build/win64   the same sources for 64-bit Windows, so that every test
#                 can run where only 64-bit Wine runs (x86_64)
#   build/native  the unwrapping code with sanitizers, its tests, the fuzzer
#                 and the unwrapping benchmark (clang)
# Extra arguments (such as --target Korvane) go to both Windows builds.
# KORVANE_SKIP_NATIVE=1 leaves out the native build;
# KORVANE_WINDOWS_BUILDS=i686:win builds build/win alone of the two.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

jobs=$(nproc)
for arch in ${KORVANE_WINDOWS_BUILDS:-i686:win x86_64:win64}; do
    dir=build/${arch#*:}
    if [ ! -f "$dir/build.ninja" ]; then
        cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-${arch%%:*}.cmake" >/dev/null
    fi
    cmake --build "$dir" -j "$jobs" "$@"
done

if [ "${KORVANE_SKIP_NATIVE:-0}" != 1 ]; then
    if [ ! -f build/native/build.ninja ]; then
        CC=clang CXX=clang++ cmake -S . -B build/native -G Ninja \
            -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    fi
    cmake --build build/native -j "$jobs"
fi
