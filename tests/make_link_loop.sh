#!/bin/sh
# Makes a folder holding a.mp3 and a directory link "loop" that points back
# at the folder itself. Windows code under Wine can't make such a link, so
# the entry list test is handed one made here.
# usage: make_link_loop.sh FOLDER
set -eu
dir=$1
rm -rf "$dir"
mkdir -p "$dir"
printf 'not audio\n' > "$dir/a.mp3"
ln -s . "$dir/loop"
