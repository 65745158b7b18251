#!/bin/sh
# Makes the real audio the Windows tests convert, all RIFF/WAVE files written
# by ffmpeg from a sine tone:
#   sine_mp3.wav, sine_mp2.wav    MPEG layer 3 (format 0x55) and layer 2
#                                 (0x50), to be converted and decoded
#   sine_8k.wav                   MPEG 2.5 layer 3 at 8 kHz (frames begin
#                                 FF E3), likewise
#   tagged_info.wav               MPEG layer 3 with a LIST/INFO in UTF-8,
#                                 whose tags the conversion keeps
#   pcm_s16.wav, float.wav, alaw.wav, mulaw.wav, ima_adpcm.wav, gsm.wav
#                                 other audio, to be left exactly as it is
# Files converted by an earlier test run are removed, so that
# check_decodes.sh only sees this run's results.
# usage: make_audio.sh OUTPUT_DIR
set -eu
out=${1:?usage: make_audio.sh OUTPUT_DIR}
mkdir -p "$out"
rm -f "$out"/converted_*.mp3 "$out"/ansi_code_page.txt

# wave NAME SECONDS FFMPEG-OUTPUT-OPTIONS...
wave() {
    name=$1 seconds=$2
    shift 2
    ffmpeg -nostdin -hide_banner -loglevel error -y \
        -f lavfi -i "sine=frequency=440:duration=$seconds" "$@" \
        -fflags +bitexact -flags:a +bitexact -f wav "$out/$name.part"
    mv "$out/$name.part" "$out/$name"
}

wave sine_mp3.wav 3 -ac 2 -c:a libmp3lame -b:a 128k
wave sine_mp2.wav 2 -ac 2 -c:a mp2 -b:a 192k
wave sine_8k.wav 2 -ac 1 -ar 8000 -c:a libmp3lame -b:a 16k
# The texts are the ones tests/check_tags.py expects to read back.
wave tagged_info.wav 2 -ac 2 -c:a libmp3lame -b:a 128k \
    -metadata title="春の海 Été" -metadata artist="山田 太郎" -metadata album="テスト盤" \
    -metadata date="2019-05-03" -metadata genre="Jazz" -metadata comment="コメント"
wave pcm_s16.wav 1 -ac 2 -c:a pcm_s16le
wave float.wav 1 -ac 2 -c:a pcm_f32le
wave alaw.wav 1 -ac 1 -ar 8000 -c:a pcm_alaw
wave mulaw.wav 1 -ac 1 -ar 8000 -c:a pcm_mulaw
wave ima_adpcm.wav 1 -ac 2 -c:a adpcm_ima_wav
wave gsm.wav 1 -ac 1 -ar 8000 -c:a libgsm_ms
