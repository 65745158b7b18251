#!/bin/sh
# The program users get must come out the same, byte for byte, wherever and
# whenever these sources are built, so that anyone can check a Korvane.exe
# against them. This copies the sources into another folder (a different
# path, of a different length), builds the program there, later than the
# build under test, and compares the two.
# usage: check_reproducible.sh SOURCE_DIR PROGRAM TOOLCHAIN_FILE GENERATOR BUILD_TYPE
#   TOOLCHAIN_FILE is given relative to SOURCE_DIR.
set -eu
source_dir=$1
program=$2
toolchain=$3
generator=$4
build_type=$5

other=$(mktemp -d "${TMPDIR:-/tmp}/korvane-elsewhere.XXXXXX")
trap 'rm -rf "$other"' EXIT
copy=$other/sources
mkdir "$copy"

# The files the build reads: those git tracks, as they are in the work tree,
# and new ones not yet added (but nothing that is ignored, such as builds).
git -C "$source_dir" ls-files -z --cached --others --exclude-standard |
    tar -C "$source_dir" --null -T - -cf - | tar -C "$copy" -xf -

cmake -S "$copy" -B "$copy/out" -G "$generator" -DCMAKE_BUILD_TYPE="$build_type" \
    -DCMAKE_TOOLCHAIN_FILE="$copy/$toolchain" >/dev/null
cmake --build "$copy/out" --target Korvane >/dev/null

again=$copy/out/$(basename "$program")
if cmp -s "$program" "$again"; then
    echo "same bytes: $(sha256sum <"$program" | cut -d' ' -f1)"
    exit 0
fi
echo "the program differs when built in another folder:" >&2
cmp -l "$program" "$again" | head -n 20 >&2 || true
exit 1
