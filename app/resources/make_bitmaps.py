#!/usr/bin/env python3
"""Draws the five waveform pictures of the waveform list and the tabs.

Each is a 16 x 16 bitmap with a 256-colour palette, drawn like a small
oscilloscope screen: black background, dark-green axes along the eighth column
and the ninth row, the trace on top. Pure red is the transparent colour of the
list, so it must never appear in a picture.

Run from this folder; it rewrites sine.bmp, square.bmp, triangular.bmp,
white.bmp and pink.bmp. Only the standard library is used, and the output is
the same on every run (the noise traces come from a fixed seed).
"""
import math
import random
import struct
from pathlib import Path

SIZE = 16
BLACK = (0, 0, 0)
AXIS = (0, 96, 64)
GREEN = (0, 255, 0)
WHITE = (255, 255, 255)
PINK = (224, 128, 128)
PALETTE = [BLACK, AXIS, GREEN, WHITE, PINK]
AXIS_COLUMN = 7  # the eighth column
AXIS_ROW = 8     # the ninth row


def half_up(v):
    return math.floor(v + 0.5)


def blank():
    px = [[0] * SIZE for _ in range(SIZE)]
    for y in range(SIZE):
        px[y][AXIS_COLUMN] = 1
    for x in range(SIZE):
        px[AXIS_ROW][x] = 1
    return px


def trace(px, ys, colour):
    """Plots one y per column; a jump from the column before is filled in as a
    vertical run in the new column, so the trace stays connected."""
    index = PALETTE.index(colour)
    prev = None
    for x, y in enumerate(ys):
        y = max(0, min(SIZE - 1, y))
        if prev is None or prev == y:
            px[y][x] = index
        else:
            step = 1 if y > prev else -1
            for yy in range(prev + step, y + step, step):
                px[yy][x] = index
        prev = y
    return px


def sine():
    ys = [AXIS_ROW - half_up(6 * math.sin(2 * math.pi * x / SIZE)) for x in range(SIZE)]
    return trace(blank(), ys, GREEN)


def square():
    ys = [3 if x < 8 else 13 for x in range(SIZE)]
    px = trace(blank(), ys, GREEN)
    for y in range(3, 14):  # the rising edge at the start of the period
        px[y][0] = PALETTE.index(GREEN)
    return px


def triangular():
    def tri(t):  # one period, starting at zero and rising to a single-pixel peak
        t = t % 1.0
        if t < 0.25:
            return 4 * t
        if t < 0.75:
            return 2 - 4 * t
        return 4 * t - 4
    ys = [AXIS_ROW - half_up(6 * tri(x / SIZE)) for x in range(SIZE)]
    return trace(blank(), ys, GREEN)


def white_noise():
    rng = random.Random(1)
    ys = [rng.randint(2, 14) for _ in range(SIZE)]
    return trace(blank(), ys, WHITE)


def pink_noise():
    rng = random.Random(7)
    # the sum of a slow, a middle and a fast random walk: more low than high frequencies
    slow = [rng.uniform(-1, 1) for _ in range(3)]
    mid = [rng.uniform(-1, 1) for _ in range(5)]
    ys = []
    for x in range(SIZE):
        v = 3.2 * slow[x * 3 // SIZE] + 1.8 * mid[x * 5 // SIZE] + rng.uniform(-1.2, 1.2)
        ys.append(AXIS_ROW - half_up(v))
    return trace(blank(), ys, PINK)


def write_bmp(path, px):
    row_bytes = SIZE  # 16 bytes per row: already a multiple of four
    palette = b"".join(bytes((b, g, r, 0)) for (r, g, b) in PALETTE)
    palette += bytes(4 * (256 - len(PALETTE)))
    pixels = b"".join(bytes(px[y]) for y in range(SIZE - 1, -1, -1))  # bottom-up
    offset = 14 + 40 + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE, 1, 8, 0, row_bytes * SIZE,
                       3780, 3780, 256, 0)
    Path(path).write_bytes(header + info + palette + pixels)


def main():
    here = Path(__file__).resolve().parent
    for name, draw in (("sine", sine), ("square", square), ("triangular", triangular),
                       ("white", white_noise), ("pink", pink_noise)):
        write_bmp(here / f"{name}.bmp", draw())


if __name__ == "__main__":
    main()
