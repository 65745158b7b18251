#!/usr/bin/env bash
# Writes a folder of sample files for trying Korvane by hand: MP3 audio
# wrapped in RIFF/WAVE and RIFF/RMP3 (one behind an ID3v2 tag), a plain MP3
# that must be left alone, a damaged wrapped file, a PCM WAVE recording that
# must be left alone too, and a subfolder with more files for the folder
# options. The wrapped files are named *.mp3, as users meet them.
#
# usage: make-samples.sh [FOLDER]   (default: samples/ in the project root)
# Needs ffmpeg with libmp3lame, and python3. Files of the same names in the
# folder are replaced; nothing else in it is touched.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/samples}

command -v ffmpeg >/dev/null || { echo "make-samples: ffmpeg is needed" >&2; exit 1; }
command -v python3 >/dev/null || { echo "make-samples: python3 is needed" >&2; exit 1; }
case $(ffmpeg -hide_banner -encoders 2>/dev/null) in
*libmp3lame*) ;;
*) echo "make-samples: ffmpeg lacks libmp3lame" >&2; exit 1 ;;
esac

mkdir -p "$out/subfolder"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# MPEG audio inside RIFF/WAVE, as ffmpeg writes it: fmt (format 0x55),
# fact, LIST and data chunks. A different tone and length for each, so the
# converted files can be told apart by ear.
wave() { # frequency seconds file
    ffmpeg -hide_banner -loglevel error -f lavfi -i "sine=frequency=$1:duration=$2" \
        -c:a libmp3lame -b:a 128k -f wav -y "$3"
}
wave 440 3 "$work/a.wav"
wave 660 2 "$work/b.wav"
wave 550 2 "$work/c.wav"
wave 330 1 "$work/d.wav"
ffmpeg -hide_banner -loglevel error -f lavfi -i "sine=frequency=880:duration=2" \
    -c:a libmp3lame -b:a 128k -f mp3 -y "$work/plain.mp3"
# An ordinary recording: 16-bit PCM in RIFF/WAVE (format 1), no MPEG audio.
ffmpeg -hide_banner -loglevel error -f lavfi -i "sine=frequency=220:duration=1" \
    -c:a pcm_s16le -f wav -y "$out/pcm-recording.wav"

python3 - "$work" "$out" <<'EOF'
import os
import struct
import sys

work, out = sys.argv[1], sys.argv[2]


def read(name):
    with open(os.path.join(work, name), "rb") as f:
        return f.read()


def write(name, data):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)


def chunks(riff):
    """(id, offset of the size field, payload) for each chunk of a RIFF."""
    found, pos = [], 12
    while pos + 8 <= len(riff):
        cid = riff[pos:pos + 4]
        size = struct.unpack_from("<I", riff, pos + 4)[0]
        found.append((cid, pos + 4, riff[pos + 8:pos + 8 + size]))
        pos += 8 + size + (size & 1)
    return found


def chunk(cid, payload):
    pad = b"\0" if len(payload) & 1 else b""
    return cid + struct.pack("<I", len(payload)) + payload + pad


def riff(form, body):
    return b"RIFF" + struct.pack("<I", 4 + len(body)) + form + body


def payload(wave):
    return next(p for cid, _, p in chunks(wave) if cid == b"data")


def id3_tag(title):
    """An ID3v2.3 tag with a title frame and 64 bytes of padding."""
    text = b"\x01" + "\ufeff".encode("utf-16-le") + title.encode("utf-16-le")
    frame = b"TIT2" + struct.pack(">I", len(text)) + b"\0\0" + text
    body = frame + bytes(64)
    n = len(body)
    synchsafe = bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])
    return b"ID3\x03\x00\x00" + synchsafe + body


a, b, c, d = (read(n) for n in ("a.wav", "b.wav", "c.wav", "d.wav"))

# RIFF/WAVE, exactly as ffmpeg wrote it.
write("wave-wrapped.mp3", a)

# RIFF/RMP3: the MPEG audio in a data chunk, then a LIST chunk with a title.
info = b"INFO" + chunk(b"INAM", "RMP3 sample".encode("ascii") + b"\0")
write("rmp3-wrapped.mp3", riff(b"RMP3", chunk(b"data", payload(b)) + chunk(b"LIST", info)))

# An ID3v2 tag, three zero bytes, then RIFF/WAVE: the tag is kept.
write("id3-then-wave.mp3", id3_tag("ID3 sample") + bytes(3) + c)

# Plain MPEG audio (an ID3v2 tag, then frames): nothing to do.
write("plain.mp3", read("plain.mp3"))

# A data chunk that claims 4096 bytes more than the file holds.
damaged = bytearray(d)
size_at = next(at for cid, at, _ in chunks(d) if cid == b"data")
struct.pack_into("<I", damaged, size_at, len(payload(d)) + 4096)
write("damaged.mp3", bytes(damaged))

# For the folder options: a wrapped file with a Japanese name, the same
# wrapped audio under a .wav name (taken only with the extension filter off)
# and a text file.
write(os.path.join("subfolder", "日本語の名前.mp3"), riff(b"RMP3", chunk(b"data", payload(d))))
write(os.path.join("subfolder", "also-wrapped.wav"), a)
write(os.path.join("subfolder", "readme.txt"),
      "Not audio. Added from a folder only when the .mp3 filter is off.\r\n".encode("ascii"))
EOF

echo "sample files written to $out:"
(cd "$out" && find . -type f | sort | while read -r f; do
    printf '  %8d bytes  %s\n' "$(stat -c %s "$f")" "${f#./}"
done)
