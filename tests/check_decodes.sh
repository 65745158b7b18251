#!/bin/sh
# Decodes every file the convert test left in the audio folder with
# `mpg123 -t` and fails on any error, warning or resync note, on a file that
# is still RIFF-wrapped, or when there is no converted file at all. mpg123
# exits 0 even on damaged input, so its messages are what is judged.
# usage: check_decodes.sh AUDIO_DIR
set -u
dir=${1:?usage: check_decodes.sh AUDIO_DIR}
status=0
count=0
for file in "$dir"/converted_*.mp3; do
    [ -f "$file" ] || continue
    count=$((count + 1))
    if [ "$(head -c 4 "$file")" = "RIFF" ]; then
        echo "FAIL $file: still wrapped in RIFF" >&2
        status=1
        continue
    fi
    if ! messages=$(mpg123 -t "$file" 2>&1); then
        echo "FAIL $file: mpg123 exited with an error" >&2
        status=1
    fi
    # The lines that name the file or its folder are mpg123's own progress lines.
    problems=$(printf '%s\n' "$messages" | grep -vF "$dir" |
        grep -iE 'error|warning|illegal|resync|skipped|frankenstein|note:' || true)
    if [ -n "$problems" ]; then
        echo "FAIL $file:" >&2
        printf '%s\n' "$problems" >&2
        status=1
    elif ! printf '%s\n' "$messages" | grep -qE '^MPEG [0-9.]+ L I+ '; then
        echo "FAIL $file: no MPEG audio stream found" >&2
        status=1
    else
        echo "ok   $file"
    fi
done
if [ "$count" -eq 0 ]; then
    echo "FAIL no converted_*.mp3 in $dir" >&2
    status=1
fi
exit $status
