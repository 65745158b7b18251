#!/usr/bin/env python3
"""Writes the fuzzer's seed corpus: small well-formed and broken wrapped files.
Run from the project root; the output in tests/fuzz_seeds is committed."""
import os
import struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fuzz_seeds")


def chunk(cid, payload, pad=True, claim=None):
    size = len(payload) if claim is None else claim
    body = cid + struct.pack("<I", size) + payload
    if pad and len(payload) % 2:
        body += b"\0"
    return body


def riff(form, chunks, claim=None):
    size = 4 + len(chunks) if claim is None else claim
    return b"RIFF" + struct.pack("<I", size) + form + chunks


def id3(body):
    n = len(body)
    size = bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])
    return b"ID3\x03\x00\x00" + size + body


FRAME = b"\xff\xfb\x90\x64" + bytes(range(60))
FMT = chunk(b"fmt ", bytes([0x55, 0, 2, 0, 0x44, 0xAC, 0, 0, 0, 0x7D, 0, 0, 1, 0, 0, 0]))
FMT_MP2 = chunk(b"fmt ", bytes([0x50, 0, 2, 0, 0x44, 0xAC, 0, 0, 0, 0x7D, 0, 0, 1, 0, 0, 0]))
FMT_PCM = chunk(b"fmt ", bytes([1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0]))

SEEDS = {
    "wave_mp3": riff(b"WAVE", FMT + chunk(b"data", FRAME)),
    "tagged_wave": id3(b"TIT2\0\0\0\x05\0\0\0abcd") + b"\0\0\0" + riff(b"WAVE", FMT + chunk(b"data", FRAME[:41]) + chunk(b"LIST", b"INFOISFT\x04\0\0\0abc\0")),
    "rmp3_two_data": riff(b"RMP3", chunk(b"data", FRAME[:9]) + chunk(b"data", FRAME[9:30])),
    "unpatched_size": riff(b"WAVE", FMT + chunk(b"data", FRAME, pad=False), claim=0xFFFFFFFF),
    "data_past_end": riff(b"WAVE", chunk(b"data", FRAME, claim=len(FRAME) + 5)),
    "cut_header": riff(b"WAVE", chunk(b"data", FRAME), claim=0xFFFFFFFF) + b"LIS",
    "avi": riff(b"AVI ", chunk(b"data", FRAME)),
    "plain_mp3": id3(b"") + FRAME,
    "no_data": id3(b"x" * 12) + riff(b"WAVE", FMT),
    "short_tag": b"ID3\x03\x00\x00\x00",
    "wave_mp2": riff(b"WAVE", FMT_MP2 + chunk(b"data", FRAME)),
    "wave_pcm": riff(b"WAVE", FMT_PCM + chunk(b"data", bytes(range(40)))),
    "pcm_after_data": riff(b"WAVE", FMT + chunk(b"data", FRAME) + FMT_PCM),
    "short_fmt": riff(b"WAVE", chunk(b"fmt ", b"\x01") + chunk(b"data", FRAME) + FMT_PCM),
    "cut_fmt": riff(b"WAVE", chunk(b"data", FRAME) + chunk(b"fmt ", b"\x55", pad=False, claim=16), claim=0xFFFFFFFF),
}

os.makedirs(OUT, exist_ok=True)
for name, data in SEEDS.items():
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)
