#!/usr/bin/env python3
"""Draws the program icon, zelvo.ico: 32 x 32 pixels in the 16 standard colours.

A small signal generator front: a grey case with a lit edge, a dark screen
with a teal graticule and a green tone that sweeps upwards in frequency, and
below it the red ON lamp and two knobs. The corners are transparent (the icon's
AND mask).

Run from this folder; it rewrites zelvo.ico. With "--png FOLDER N..." it
writes the desktop's icons instead, FOLDER/NxN/apps/zelvo.png for each size N:
the same picture, with every pixel taking the same room. At a whole multiple of
32 each pixel is widened to a block, since the picture is drawn pixel by pixel;
at any other size (48) it is widened so to the least size that N divides (96)
and then shrunk by averaging whole blocks, which is exact and smooth, where
widening straight to N would make every other row and column twice as wide.
Only the standard library is used, and the output is the same on every run.
"""
import math
import struct
import sys
import zlib
from pathlib import Path

SIZE = 32
# The 16 standard colours, in their usual order (index = colour number).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GREY, RED, LIME, YELLOW, BLUE, FUCHSIA, AQUA, WHITE = range(8, 16)
CLEAR = None  # transparent


def draw():
    px = [[CLEAR] * SIZE for _ in range(SIZE)]

    def rect(x0, y0, x1, y1, c):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                px[y][x] = c

    # the case: black outline with cut corners, lit top and left, shaded bottom and right
    rect(1, 2, 30, 29, BLACK)
    rect(2, 1, 29, 30, BLACK)
    rect(2, 2, 29, 29, SILVER)
    for i in range(2, 29):
        px[2][i] = WHITE
        px[i][2] = WHITE
        px[29][i + 1] = GREY
        px[i + 1][29] = GREY

    # the screen, sunk into the case
    x0, y0, x1, y1 = 5, 5, 26, 20
    rect(x0 - 1, y0 - 1, x1 + 1, y0 - 1, GREY)
    rect(x0 - 1, y0 - 1, x0 - 1, y1 + 1, GREY)
    rect(x0 - 1, y1 + 1, x1 + 1, y1 + 1, WHITE)
    rect(x1 + 1, y0 - 1, x1 + 1, y1 + 1, WHITE)
    rect(x0, y0, x1, y1, BLACK)
    mid = (y0 + y1) // 2
    for x in range(x0, x1 + 1):
        if (x - x0) % 2 == 0:
            px[mid][x] = TEAL
    for y in range(y0, y1 + 1):
        for gx in (x0 + 5, x0 + 11, x0 + 16):
            if (y - y0) % 3 == 1:
                px[y][gx] = TEAL

    # a tone sweeping upwards: the phase grows with the square of x
    width = x1 - x0
    prev = None
    for i in range(width + 1):
        t = i / width
        phase = 2 * math.pi * (0.6 * t + 1.6 * t * t)
        y = mid - round(6 * math.sin(phase))
        x = x0 + i
        if prev is None or prev == y:
            px[y][x] = LIME
        else:
            step = 1 if y > prev else -1
            for yy in range(prev + step, y + step, step):
                px[yy][x] = LIME
        prev = y

    # the ON lamp
    rect(6, 23, 8, 25, RED)
    px[23][6] = WHITE
    px[25][8] = MAROON
    rect(5, 22, 9, 22, GREY)
    rect(5, 22, 5, 26, GREY)

    # two knobs: round, dark rim, lit face, a white mark pointing up
    knob = [".NNN.",
            "NBBBN",
            "NBBBN",
            "NBBBN",
            ".NNN."]
    for cx in (18, 24):
        for dy, line in enumerate(knob):
            for dx, c in enumerate(line):
                if c != ".":
                    px[22 + dy][cx - 2 + dx] = NAVY if c == "N" else BLUE
        px[22][cx] = WHITE
        px[23][cx] = WHITE
    return px


def ico(px):
    xor_rows, and_rows = [], []
    for y in range(SIZE - 1, -1, -1):  # bottom-up
        row = px[y]
        nibbles = [0 if c is None else c for c in row]
        xor_rows.append(bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, SIZE, 2)))
        bits = 0
        for x, c in enumerate(row):
            if c is None:
                bits |= 1 << (SIZE - 1 - x)
        and_rows.append(struct.pack(">I", bits))
    xor = b"".join(xor_rows)
    mask = b"".join(and_rows)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    image = header + palette + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def rgba(c):
    return (0, 0, 0, 0) if c is None else PALETTE[c] + (255,)


def resample(px, size):
    """The picture at size x size, as rows of RGBA tuples."""
    big = math.lcm(SIZE, size)
    widen, shrink = big // SIZE, big // size
    out = []
    for y in range(size):
        row = []
        for x in range(size):
            block = [rgba(px[(y * shrink + j) // widen][(x * shrink + i) // widen])
                     for j in range(shrink) for i in range(shrink)]
            # averaged with the colours weighted by their alpha, so that the
            # clear corners lend no colour to their edge
            alpha = sum(p[3] for p in block)
            if alpha == 0:
                row.append((0, 0, 0, 0))
                continue
            colour = tuple((sum(p[k] * p[3] for p in block) + alpha // 2) // alpha for k in range(3))
            row.append(colour + ((alpha + len(block) // 2) // len(block),))
        out.append(row)
    return out


def png(px, size):
    """RGBA, 8 bits a channel; the transparent corners get alpha 0."""
    rows = [b"\0" + bytes(v for p in line for v in p) for line in resample(px, size)]  # filter: none

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))


if __name__ == "__main__":
    if len(sys.argv) >= 4 and sys.argv[1] == "--png":
        picture = draw()
        for n in map(int, sys.argv[3:]):
            folder = Path(sys.argv[2]) / f"{n}x{n}" / "apps"
            folder.mkdir(parents=True, exist_ok=True)
            (folder / "zelvo.png").write_bytes(png(picture, n))
    elif len(sys.argv) == 1:
        here = Path(__file__).resolve().parent
        (here / "zelvo.ico").write_bytes(ico(draw()))
    else:
        sys.exit("usage: make_icon.py [--png FOLDER SIZE...]")
