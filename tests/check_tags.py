#!/usr/bin/env python3
"""Reads back, with mutagen, the tags of the files the convert test made
from wrapped files whose RIFF held them, as a user's player would:
  converted_info_wave.mp3   from ffmpeg's WAVE with a LIST/INFO in UTF-8
  converted_sjis_rmp3.mp3   from an RMP3 whose INFO is in code page 932
The second is decoded in the ANSI code page of the Wine that converted it
(ansi_code_page.txt, written by the convert test): in the Japanese locale
that is 932 and the titles come out as written.
usage: check_tags.py AUDIO_DIR"""
import os
import sys

from mutagen.id3 import ID3

AUDIO = sys.argv[1]
# Code page 932: 日本語のﾀｲﾄﾙ and 山田ｶﾀｶﾅ, half-width katakana included.
SJIS_TITLE = bytes.fromhex("93fa967b8cea82ccc0b2c4d9")
SJIS_ARTIST = bytes.fromhex("8e529363b6c0b6c5")

failures = []


def expect(name, frame, got, wanted):
    if got != wanted:
        failures.append(f"{name} {frame}: read {got!r}, wanted {wanted!r}")
    else:
        print(f"ok   {name} {frame}: {got}")


def frames(name):
    # As written: mutagen would otherwise move the 2.3 frames to 2.4 ones.
    tags = ID3(os.path.join(AUDIO, name), translate=False)
    if tags.version != (2, 3, 0):
        failures.append(f"{name}: ID3v2 version {tags.version}, wanted 2.3")
    return tags


def text(tags, frame):
    return str(tags[frame]) if frame in tags else None


info = frames("converted_info_wave.mp3")
for frame, wanted in [("TIT2", "春の海 Été"), ("TPE1", "山田 太郎"), ("TALB", "テスト盤"),
                      ("TYER", "2019"), ("TCON", "Jazz")]:
    expect("info wave", frame, text(info, frame), wanted)
comments = info.getall("COMM")
expect("info wave", "COMM", [(c.lang, c.desc, c.text[0]) for c in comments],
       [("und", "", "コメント")])

with open(os.path.join(AUDIO, "ansi_code_page.txt")) as f:
    code_page = int(f.read().strip())
if os.environ.get("KORVANE_ANSI_CODE_PAGE", str(code_page)) != str(code_page):
    failures.append(f"converted in code page {code_page}, this pass is for "
                    f"{os.environ['KORVANE_ANSI_CODE_PAGE']}")
sjis = frames("converted_sjis_rmp3.mp3")
expect("sjis rmp3", "TIT2", text(sjis, "TIT2"), SJIS_TITLE.decode(f"cp{code_page}"))
expect("sjis rmp3", "TPE1", text(sjis, "TPE1"), SJIS_ARTIST.decode(f"cp{code_page}"))
if code_page == 932:
    expect("sjis rmp3", "TIT2 in Japanese", text(sjis, "TIT2"), "日本語のﾀｲﾄﾙ")

for failure in failures:
    print("FAIL " + failure, file=sys.stderr)
sys.exit(1 if failures else 0)
