#!/usr/bin/env bash
# Makes the Wine that runs every Windows program of the project: Wine 10 of
# Debian 13 in a root of its own, outside the checkout, so that each
# checkout (CI's fresh clones too) uses the one already made.
#
# Why a root: Wine 10 runs 32-bit Windows programs in its WoW64 mode, inside
# a 64-bit Linux process, so the program users get is tested even where the
# kernel cannot execute 32-bit Linux programs (and so cannot run 32-bit
# Wine). Only the 64-bit Wine packages are installed; the 32-bit Windows
# DLLs are unpacked from libwine:i386 (never installed) into the folder
# where the 64-bit Wine looks for them. No 32-bit Linux file enters the root.
#
# The root carries a stamp made from this file (which says all that goes
# into it) and the machine's architecture; a root with another stamp is
# made anew. It is built beside its place and moved there when complete,
# so an interrupted run leaves no half-made root in use. Nothing is ever
# mounted into it but inside a private mount namespace that ends with the
# command (unshare, bwrap), so removing it is safe at any time.
#
#   scripts/wine-root.sh            makes the root when missing or stale
#   scripts/wine-root.sh --path     prints where it lives
set -euo pipefail

KORVANE_WINE_ROOT=${KORVANE_WINE_ROOT:-/var/lib/korvane/wine10-root}
suite=trixie
packages=(
    wine64 wine
    # Loaded at run time by Wine's X11 and font code, so they are only
    # recommended by the Wine packages, which are installed without those.
    libfreetype6 libfontconfig1 libx11-6 libxext6 libxrender1 libxrandr2
    libxi6 libxcursor1 libxinerama1 libxcomposite1 libxfixes3
    # The dialog's Japanese texts, and the Japanese locale of the second
    # test pass (Wine takes its ANSI code page from the Unix locale).
    fonts-ipafont-gothic locales
)

if [ "${1:-}" = --path ]; then
    echo "$KORVANE_WINE_ROOT"
    exit 0
fi

stamp_file=$KORVANE_WINE_ROOT/.korvane-root-stamp
stamp=$( (cat "$0"; dpkg --print-architecture) | sha256sum | cut -d' ' -f1)
if [ -f "$stamp_file" ] && [ "$(cat "$stamp_file")" = "$stamp" ]; then
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "wine-root.sh must run as root (it makes a Debian root)" >&2
    exit 1
fi

# The Debian mirror the host's apt already uses (its main archive, not the
# security one), read now and never written into the project.
mirror=$(apt-get indextargets --format '$(SITE) $(LABEL)' 2>/dev/null |
    awk '$2 == "Debian" { print $1; exit }')
if [ -z "$mirror" ]; then
    echo "wine-root.sh: no Debian mirror in the host's apt sources" >&2
    exit 1
fi

# Refuses to delete a folder that has anything mounted inside it in this
# namespace: removing it would remove the mounted files too.
remove_unmounted() {
    local dir=$1
    [ -e "$dir" ] || return 0
    if awk -v d="$dir" '$5 == d || index($5, d "/") == 1 { found = 1 } END { exit !found }' \
        /proc/self/mountinfo; then
        echo "wine-root.sh: something is mounted inside $dir; not removing it" >&2
        return 1
    fi
    rm -rf --one-file-system "$dir"
}

# Runs a command inside the new root with /dev and /proc, in a sandbox
# whose mounts end with the command.
in_root() {
    bwrap --bind "$new" / --dev-bind /dev /dev --proc /proc \
        --ro-bind /etc/resolv.conf /etc/resolv.conf --die-with-parent \
        --setenv DEBIAN_FRONTEND noninteractive --setenv LC_ALL C.UTF-8 \
        --setenv PATH /usr/sbin:/usr/bin:/sbin:/bin -- "$@"
}

new=$KORVANE_WINE_ROOT.new
echo "wine-root: making the Wine 10 root in $KORVANE_WINE_ROOT (Debian $suite from $mirror)"
mkdir -p "$(dirname "$KORVANE_WINE_ROOT")"
remove_unmounted "$new"
# debootstrap mounts /proc and /sys in the new root while it works: in a
# namespace of its own those mounts cannot outlive it, even if it fails.
unshare --mount --propagation private \
    debootstrap --variant=minbase "$suite" "$new" "$mirror" >"$new.log" 2>&1 || {
    echo "wine-root.sh: debootstrap failed; the end of its log:" >&2
    tail -n 20 "$new.log" >&2
    exit 1
}
rm -f "$new.log"

in_root dpkg --add-architecture i386
in_root apt-get update -qq
in_root apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null

# The 32-bit Windows half of Wine, from the i386 build of the same version:
# unpacked, not installed, so that no 32-bit Linux file comes along.
in_root sh -c 'set -e
    version=$(dpkg-query -W -f="\${Version}" libwine)
    cd /tmp && rm -rf libwine-i386 && mkdir libwine-i386 && cd libwine-i386
    apt-get download -qq -o APT::Sandbox::User=root "libwine:i386=$version"
    dpkg -x libwine_*_i386.deb unpacked
    mkdir -p /usr/lib/x86_64-linux-gnu/wine/i386-windows
    cp -a unpacked/usr/lib/i386-linux-gnu/wine/i386-windows/. \
        /usr/lib/x86_64-linux-gnu/wine/i386-windows/
    cd / && rm -rf /tmp/libwine-i386
    apt-get clean'

in_root sh -c 'sed -i "s/^# *\(ja_JP.UTF-8 UTF-8\)$/\1/" /etc/locale.gen
    grep -qx "ja_JP.UTF-8 UTF-8" /etc/locale.gen || echo "ja_JP.UTF-8 UTF-8" >>/etc/locale.gen
    locale-gen >/dev/null'

echo "$stamp" >"$new/.korvane-root-stamp"
remove_unmounted "$KORVANE_WINE_ROOT"
mv "$new" "$KORVANE_WINE_ROOT"
echo "wine-root: ready"
