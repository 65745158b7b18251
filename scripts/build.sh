#!/usr/bin/env bash
# Configures and builds both builds:
#   build/win     the Windows program, its tests and benchmarks (MinGW-w64)
#   build/native  the unwrapping code with sanitizers, its tests, the fuzzer
#                 and the unwrapping benchmark (clang)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

jobs=$(nproc)
if [ ! -f build/win/build.ninja ]; then
    cmake -S . -B build/win -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
fi
cmake --build build/win -j "$jobs" "$@"

if [ "${KORVANE_SKIP_NATIVE:-0}" != 1 ]; then
    if [ ! -f build/native/build.ninja ]; then
        CC=clang CXX=clang++ cmake -S . -B build/native -G Ninja \
            -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    fi
    cmake --build build/native -j "$jobs"
fi
