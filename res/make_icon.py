#!/usr/bin/env python3
"""Draws the program icon (16, 32 and 48 pixels, 8 bits per pixel) and writes
res/korvane.ico. The drawing is plain geometry, so the output is the same on
every run; the .ico is committed and this script is how it was made.

The picture: a dark blue rounded square holding a white arrow that comes out
of a box outline, for "unwrapping"."""
import os
import struct

PALETTE = [
    (0, 0, 0),        # 0 transparent (masked)
    (40, 70, 140),    # 1 blue
    (20, 35, 80),     # 2 dark blue edge
    (255, 255, 255),  # 3 white
    (250, 190, 40),   # 4 amber
]


def draw(n):
    px = [[0] * n for _ in range(n)]
    r = max(2, n // 6)
    for y in range(n):
        for x in range(n):
            dx = max(r - x, x - (n - 1 - r), 0)
            dy = max(r - y, y - (n - 1 - r), 0)
            d2 = dx * dx + dy * dy
            if d2 <= r * r:
                edge = d2 > (r - 1.2) ** 2 or x in (0, n - 1) or y in (0, n - 1)
                px[y][x] = 2 if edge else 1
    s = n / 16.0
    # box outline in amber, lower half
    x0, x1, y0, y1 = int(3 * s), int(12 * s), int(8 * s), int(13 * s)
    t = max(1, int(s))
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            if x - x0 < t or x1 - x < t or y1 - y < t:
                px[y][x] = 4
    # white arrow pointing up out of the box
    cx = (x0 + x1) // 2
    w = max(1, int(s))
    for y in range(int(5 * s), int(11 * s)):
        for x in range(cx - w + 1, cx + w + 1):
            px[y][x] = 3
    head = int(3 * s)
    for i in range(head + 1):
        y = int(2 * s) + i
        for x in range(cx - i, cx + i + 2):
            if 0 <= x < n:
                px[y][x] = 3
    return px


def image(n):
    px = draw(n)
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 8, 0, 0, 0, 0, 256, 0)
    pal = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    pal += b"\0" * (1024 - len(pal))
    xor_row = (n + 3) & ~3
    and_row = ((n + 31) // 32) * 4
    xor = b""
    mask = b""
    for y in reversed(range(n)):
        xor += bytes(px[y]) + b"\0" * (xor_row - n)
        bits = 0
        row = bytearray(and_row)
        for x in range(n):
            if px[y][x] == 0:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(row)
    return header + pal + xor + mask


def main():
    sizes = [16, 32, 48]
    images = [image(n) for n in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for n, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 8, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "korvane.ico")
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
