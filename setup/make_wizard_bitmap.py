#!/usr/bin/env python3
"""Draws the picture on the left of the setup's welcome and finish pages
(164 x 314, the size those pages show): the player's cube and star, drawn by
the launcher icon's own shapes at a larger size, over a night sky.

    make_wizard_bitmap.py OUTPUT.bmp

The output is committed beside this script; rerun it after changing the
drawing or the icon's shapes.
"""
import random
import struct
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "launcher" / "resources"))
import make_icons  # noqa: E402

WIDTH, HEIGHT, CUBE = 164, 314, 112


def draw():
    top, bottom = (10, 20, 70), (0, 0, 12)
    pixels = [[tuple(round(a + (b - a) * y / (HEIGHT - 1)) for a, b in zip(top, bottom))
               for _ in range(WIDTH)] for y in range(HEIGHT)]
    stars = random.Random(7)  # the same sky on every run
    for _ in range(60):
        x, y = stars.randrange(WIDTH), stars.randrange(HEIGHT)
        level = stars.choice((120, 170, 230))
        pixels[y][x] = (level, level, level)
    palette = make_icons.palette_256()
    indices, mask = make_icons.render(make_icons.program_shapes(), CUBE, palette)
    left, upper = (WIDTH - CUBE) // 2, 48
    for y in range(CUBE):
        for x in range(CUBE):
            if not mask[y][x]:
                pixels[upper + y][left + x] = palette[indices[y][x]]
    return pixels


def write_bmp(path, pixels):
    stride = (WIDTH * 3 + 3) & ~3
    body = bytearray()
    for row in reversed(pixels):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        body += line + bytes(stride - len(line))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(body), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 24, 0, len(body), 2835, 2835, 0, 0)
    Path(path).write_bytes(header + info + body)


if __name__ == "__main__":
    write_bmp(sys.argv[1], draw())
