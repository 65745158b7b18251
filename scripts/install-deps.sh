#!/usr/bin/env bash
# Installs everything the build, the tests and the Wine runs need on a fresh
# Debian machine. Safe to run again: apt-get skips what is already there.
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
    wine wine32:i386 wine64
    xvfb x11-utils xdotool imagemagick fonts-ipafont-gothic
    ffmpeg mpg123
    python3
    unzip
    locales
)

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    need_update=1
fi
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ] || [ -n "${need_update:-}" ]; then
    apt-get update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The Wine tests run a second time in the Japanese locale, where Wine's
# ANSI code page is 932; Wine takes it from the Unix locale, which must
# exist for that.
if ! locale -a 2>/dev/null | grep -qx 'ja_JP.utf8'; then
    sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)$/\1/' /etc/locale.gen
    grep -qx 'ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >>/etc/locale.gen
    locale-gen >/dev/null
fi
echo "install-deps: all packages present"
