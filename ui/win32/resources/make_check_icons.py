#!/usr/bin/env python3
"""Draws the two check-mark icons of check lists and writes them as .ico files.

    make_check_icons.py OUTPUT_DIRECTORY

unchecked.ico: an empty white box with a grey frame; checked.ico: the same box
with a dark tick. Each holds one 16x16 image in 32-bit colour with its mask.
The outputs are committed beside this script; rerun it after changing a
drawing.
"""
import struct
import sys
from pathlib import Path

SIZE = 16
FRAME = (128, 128, 128)
FILL = (255, 255, 255)
TICK = (0, 0, 0)
# The tick, as (x, y) pixels from the top left, two pixels thick.
TICK_PIXELS = [(4, 7), (5, 8), (6, 9), (7, 8), (8, 7), (9, 6), (10, 5), (11, 4)]


def draw(checked):
    """Rows of (r, g, b, a) from the top; a = 0 outside the box."""
    pixels = [[(0, 0, 0, 0)] * SIZE for _ in range(SIZE)]
    for y in range(1, 15):
        for x in range(1, 15):
            edge = x in (1, 14) or y in (1, 14)
            pixels[y][x] = (*(FRAME if edge else FILL), 255)
    if checked:
        for x, y in TICK_PIXELS:
            for dy in (0, 1):
                pixels[y + dy][x] = (*TICK, 255)
    return pixels


def ico(pixels):
    colour = b"".join(bytes((b, g, r, a)) for row in reversed(pixels) for (r, g, b, a) in row)
    mask_row_bytes = 4  # 16 bits, padded to 32
    mask = b""
    for row in reversed(pixels):
        bits = 0
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits |= 1 << (15 - x)
        mask += struct.pack(">H", bits) + b"\0" * (mask_row_bytes - 2)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0,
                         len(colour) + len(mask), 0, 0, 0, 0)
    image = header + colour + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def main():
    out = Path(sys.argv[1] if len(sys.argv) > 1 else ".")
    (out / "unchecked.ico").write_bytes(ico(draw(False)))
    (out / "checked.ico").write_bytes(ico(draw(True)))


if __name__ == "__main__":
    main()
