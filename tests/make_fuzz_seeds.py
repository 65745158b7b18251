#!/usr/bin/env python3
"""Writes the fuzzers' seed corpora: small well-formed and broken wrapped files
in tests/fuzz_seeds, and files whose RIFF keeps tags in tests/fuzz_seeds_tags.
Run from the project root; the output is committed."""
import os
import struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fuzz_seeds")
OUT_TAGS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fuzz_seeds_tags")


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



def info(entries, claim=None):
    return chunk(b"LIST", b"INFO" + b"".join(chunk(i, v) for i, v in entries), claim=claim)


def wave(chunks, claim=None):
    return riff(b"WAVE", FMT + chunks + chunk(b"data", FRAME), claim=claim)


def cart(title, artist):
    return chunk(b"cart", b"0101" + title.ljust(64, b"\0") + artist.ljust(64, b" ") + bytes(40))


V1 = b"TAG" + b"Title".ljust(30, b"\0") + b"Artist".ljust(30, b"\0") + bytes(65)
UTF8 = [(b"INAM", "日本語のタイトル".encode()), (b"IART", "Café".encode()),
        (b"ICRD", b"2019-05-03"), (b"ICMT", "ça va 🎵".encode()), (b"IPRT", b"3"),
        (b"ITRK", b"9"), (b"IKEY", b"key"), (b"INAM", b"Second")]
SJIS = [(b"INAM", "日本語".encode("cp932")), (b"IART", "ｶﾀｶﾅ".encode("cp932")),
        (b"IPRD", "アルバム".encode("cp932") + b"\x81"), (b"IGNR", b"Rock  \0junk")]
BAD_TEXT = [(b"INAM", b"abc\xff"), (b"IART", b"\xc0\xaf"), (b"IPRD", b"\xed\xa0\x80"),
            (b"IGNR", b"\xf4\x90\x80\x80"), (b"ICMT", b"\xe6\x97"), (b"ISBJ", b"\x80"),
            (b"\x01BAD", b"id")]
# The first byte of each seed picks the fuzzer's mode: 0, the file as it
# stands; 1, chunks behind a WAVE header; 7, behind an RMP3 header of size
# 0xFFFFFFFF.
TAG_SEEDS = {
    "info_utf8": b"\0" + wave(info(UTF8)),
    "info_sjis": b"\0" + wave(info(SJIS)),
    "info_bad_text": b"\0" + wave(info(BAD_TEXT)),
    "info_two_lists": b"\0" + wave(info(UTF8[:2]) + info(SJIS)),
    "list_size_ffffffff": b"\0" + wave(info(UTF8, claim=0xFFFFFFFF)),
    "entry_size_ffffffff": b"\0" + wave(chunk(b"LIST", b"INFO" + chunk(b"INAM", b"abc", claim=0xFFFFFFFF))),
    "entry_past_list": b"\0" + wave(chunk(b"LIST", b"INFO" + chunk(b"INAM", b"Titl", claim=100)) + chunk(b"JUNK", b"e and more")),
    "entry_past_riff": b"\0" + riff(b"WAVE", info([(b"INAM", b"Title")]), claim=4 + 24),
    "odd_sizes": b"\0" + wave(info([(b"INAM", b"odd"), (b"IART", b"x")]) + chunk(b"LIST", b"INFO" + chunk(b"IPRD", b"abc", pad=False) + chunk(b"IGNR", b"Pop"), claim=21)),
    "many_entries": b"\0" + wave(info([(b"X%03d" % i, b"v") for i in range(70)])),
    "id3_chunk": b"\0" + wave(info(UTF8[:1]) + chunk(b"id3 ", id3(b"TIT2\0\0\0\x05\0\0\0abcd") + bytes(7))),
    "id3_chunk_footer": b"\0" + wave(chunk(b"ID3 ", b"ID3\x04\x00\x10\0\0\0\x04abcd") + info(UTF8[:1])),
    "id3_chunk_too_long": b"\0" + wave(chunk(b"id3 ", b"ID3\x03\x00\x00\0\0\0\x40abcd") + info(UTF8[:1])),
    "cart": b"\0" + wave(cart(b"Cart Title", b"Cart Artist") + info([(b"IART", b"Info")])),
    "rmp3_iid3_v2": b"\0" + riff(b"RMP3", chunk(b"data", FRAME) + info([(b"INAM", b"x"), (b"IID3", id3(b"TALB\0\0\0\x02\0\0\0a"))])),
    "rmp3_iid3_v1": b"\0" + riff(b"RMP3", chunk(b"data", FRAME) + info([(b"IID3", V1)])),
    "trailing_v1": b"\0" + wave(info(SJIS[:1])) + V1,
    "truncated": (b"\0" + wave(info(UTF8) + cart(b"T", b"A")))[:150],
    "zeros_before_riff": b"\0" + bytes(5) + wave(info(SJIS[:2])),
    "wrapped_wave": b"\1" + FMT + info(UTF8[:3]) + cart(b"Cart", b"") + chunk(b"data", FRAME),
    "wrapped_rmp3": b"\7" + chunk(b"data", FRAME) + info([(b"IID3", V1), (b"INAM", b"x")]) + V1,
}

for folder, seeds in ((OUT, SEEDS), (OUT_TAGS, TAG_SEEDS)):
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
