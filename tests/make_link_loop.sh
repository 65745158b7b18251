#!/bin/sh
# Makes folders with directory links back up the tree, for the folder
# search. Windows code under Wine can't make such links, so the entry list
# test is handed them made here:
#   FOLDER/self/a.mp3, FOLDER/self/loop -> .   a link to its own folder
#   FOLDER/up/a.mp3, FOLDER/up/sub/b.mp3,
#   FOLDER/up/sub/back1 -> .., FOLDER/up/sub/back2 -> ..
#                                             two links up to the same folder
#   FOLDER/up/sub/more -> ../../more, FOLDER/more/c.mp3
#                                             a link to another music folder
# usage: make_link_loop.sh FOLDER
set -eu
dir=$1
rm -rf "$dir"
mkdir -p "$dir/self" "$dir/up/sub" "$dir/more"
printf 'not audio\n' > "$dir/self/a.mp3"
ln -s . "$dir/self/loop"
printf 'not audio\n' > "$dir/up/a.mp3"
printf 'not audio\n' > "$dir/up/sub/b.mp3"
ln -s .. "$dir/up/sub/back1"
ln -s .. "$dir/up/sub/back2"
ln -s ../../more "$dir/up/sub/more"
printf 'not audio\n' > "$dir/more/c.mp3"
