#!/usr/bin/env bash
# Makes the Wine that runs every Windows program of the project: Wine 10 of
# Debian 13 in a root of its own, outside the checkout, so that each
# checkout (CI's fresh clones too) uses the one already made.
#
# The root holds two ways of running the 32-bit program users get, and
# scripts/wine.sh picks one per machine:
#  - WoW64 mode: the 64-bit Wine runs 32-bit Windows code inside a 64-bit
#    Linux process, as 64-bit Windows does. It needs the 32-bit Windows DLLs
#    in the 64-bit Wine's own folder, and no 32-bit loader at
#    /usr/lib/wine/wine: where one is, Wine starts it instead.
#  - Emulated: some machines run no 32-bit code at all (their kernels have
#    IA-32 emulation off), and WoW64 mode dies there at start. There the
#    32-bit Wine runs, its Linux side under qemu's user-mode i386 emulator,
#    while the 64-bit Wine, its server and the rest stay native. Its loader
#    is kept aside at /usr/lib/wine/wine.i386 (dpkg-divert), and the folder
#    /usr/lib/korvane/wine-emulated, laid out like /usr/lib/wine but with a
#    wrapper that starts that loader under qemu as its "wine", is bound over
#    /usr/lib/wine by the launcher in that mode only.
# A tiny 32-bit program, /usr/lib/korvane/ia32-probe, tells the launcher
# whether the machine executes 32-bit code.
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
    wine64 wine wine32:i386 qemu-user
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
# The 32-bit loader is kept out of /usr/lib/wine before it arrives, so that
# WoW64 mode stays the 64-bit Wine's own way.
in_root dpkg-divert --quiet --add --rename --divert /usr/lib/wine/wine.i386 /usr/lib/wine/wine
in_root apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
[ -f "$new/usr/lib/wine/wine.i386" ] && [ ! -e "$new/usr/lib/wine/wine" ] || {
    echo "wine-root.sh: the 32-bit Wine loader is not where it was diverted to" >&2
    exit 1
}

# WoW64 mode looks for the 32-bit Windows DLLs beside the 64-bit ones.
# Hard links: the same files, no second copy. A file the packages already
# put there (zlib1.dll) is kept.
in_root sh -c 'set -e
    mkdir -p /usr/lib/x86_64-linux-gnu/wine/i386-windows
    cp -al --update=none /usr/lib/i386-linux-gnu/wine/i386-windows/. \
        /usr/lib/x86_64-linux-gnu/wine/i386-windows/
    apt-get clean'

# The folder bound over /usr/lib/wine in emulated mode: the same files, and
# a "wine" that runs the 32-bit loader under qemu. Wine starts each new
# process with the loader named in its own argv[0]; -0 keeps that the
# wrapper, so that a program's children run under qemu too.
in_root sh -c 'set -e
    dir=/usr/lib/korvane/wine-emulated
    mkdir -p $dir
    cp -al /usr/lib/wine/. $dir/
    printf "%s\n" "#!/bin/sh" \
        "exec /usr/bin/qemu-i386 -0 /usr/lib/wine/wine /usr/lib/wine/wine.i386 \"\$@\"" \
        >$dir/wine
    chmod 755 $dir/wine'

# The machine's answer to "do you execute 32-bit code?": a 93-byte static
# i386 program that only makes the exit system call with 0. Where IA-32
# emulation is off, the kernel refuses to execute it.
printf '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' \
    >"$new/usr/lib/korvane/ia32-probe"
chmod 755 "$new/usr/lib/korvane/ia32-probe"

in_root sh -c 'sed -i "s/^# *\(ja_JP.UTF-8 UTF-8\)$/\1/" /etc/locale.gen
    grep -qx "ja_JP.UTF-8 UTF-8" /etc/locale.gen || echo "ja_JP.UTF-8 UTF-8" >>/etc/locale.gen
    locale-gen >/dev/null'

echo "$stamp" >"$new/.korvane-root-stamp"
remove_unmounted "$KORVANE_WINE_ROOT"
mv "$new" "$KORVANE_WINE_ROOT"
echo "wine-root: ready"
