#!/usr/bin/env bash
# Installs everything the build, the tests and the Wine runs need on a fresh
# Debian machine, and makes the Wine root (scripts/wine-root.sh). Safe to
# run again: apt-get skips what is already there, and the root is made
# only when missing or stale. Wine itself is not installed on the host: it
# lives in the root, so the host needs no 32-bit architecture either.
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps.sh must run as root (it calls apt-get)" >&2
    exit 1
fi

export DEBIAN_FRONTEND=noninteractive

packages=(
    cmake ninja-build make
    g++-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
    g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
    googletest
    clang libclang-rt-14-dev
    debootstrap bubblewrap
    xvfb x11-utils xdotool imagemagick
    ffmpeg mpg123
    python3 python3-mutagen
    unzip
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

echo "install-deps: all packages present"
bash "$(dirname "$0")/wine-root.sh"
