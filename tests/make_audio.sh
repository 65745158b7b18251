#!/bin/sh
# Makes the real audio the Windows tests convert: three seconds of a sine
# tone, encoded by ffmpeg with libmp3lame and stored in a RIFF/WAVE file
# (sine_mp3.wav). Files converted by an earlier test run are removed, so
# that check_decodes.sh only sees this run's results.
# usage: make_audio.sh OUTPUT_DIR
set -eu
out=${1:?usage: make_audio.sh OUTPUT_DIR}
mkdir -p "$out"
rm -f "$out"/converted_*.mp3
ffmpeg -nostdin -hide_banner -loglevel error -y \
    -f lavfi -i sine=frequency=440:duration=3 -ac 2 \
    -c:a libmp3lame -b:a 128k -fflags +bitexact -flags:a +bitexact \
    -f wav "$out/sine_mp3.wav.part"
mv "$out/sine_mp3.wav.part" "$out/sine_mp3.wav"
