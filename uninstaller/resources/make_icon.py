#!/usr/bin/env python3
"""Draws the uninstaller's icon and writes it as an .ico file.

    make_icon.py OUTPUT_FILE

A blue sphere (the player's world) with a white arrow leaving it towards an
open box below, at 32x32 and 16x16, each in 32-bit colour with its mask. The
output is committed beside this script; rerun it after changing the drawing.
"""
import math
import struct
import sys


def draw(size):
    """Rows of (r, g, b, a) from the top."""
    s = size / 32.0
    px = [[(0, 0, 0, 0)] * size for _ in range(size)]
    cx, cy, radius = 16 * s, 12 * s, 10 * s
    for y in range(size):
        for x in range(size):
            fx, fy = x + 0.5, y + 0.5
            d = math.hypot(fx - cx, fy - cy)
            if d <= radius:
                # Lit from the upper left.
                light = max(0.0, 1.0 - math.hypot(fx - cx + 4 * s, fy - cy + 4 * s) / (2 * radius))
                px[y][x] = (int(30 + 120 * light), int(60 + 140 * light), int(150 + 105 * light), 255)
            # The box: an open tray along the bottom.
            if 22 * s <= fy <= 30 * s and 5 * s <= fx <= 27 * s:
                edge = fy >= 28 * s or fx <= 7 * s or fx >= 25 * s
                if edge:
                    px[y][x] = (150, 110, 50, 255)
            # The arrow: a shaft down the middle and a head above the box.
            if abs(fx - cx) <= 1.5 * s and 8 * s <= fy <= 21 * s:
                px[y][x] = (255, 255, 255, 255)
            if 17 * s <= fy <= 25 * s and abs(fx - cx) <= (25 * s - fy) * 0.9:
                px[y][x] = (255, 255, 255, 255)
    return px


def image(size):
    px = draw(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b"".join(bytes((b, g, r, a)) for row in reversed(px) for (r, g, b, a) in row)
    stride = ((size + 31) // 32) * 4
    mask = b""
    for row in reversed(px):
        line = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(line)
    return header + colour + mask


def main():
    sizes = [32, 16]
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
