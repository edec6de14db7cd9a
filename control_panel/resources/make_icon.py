#!/usr/bin/env python3
"""Draws the applet's icon and writes it as an .ico file.

    make_icon.py OUTPUT_FILE

A blue display with a red, green and blue triangle on it (the rasterizers'
subject), at 32x32 and 16x16, each in 32-bit colour with its mask. The output
is committed beside this script; rerun it after changing the drawing.
"""
import struct
import sys

FRAME = (40, 40, 48)
SCREEN = (24, 48, 120)
STAND = (96, 96, 104)


def inside(tri, x, y):
    (x1, y1), (x2, y2), (x3, y3) = tri
    d1 = (x - x2) * (y1 - y2) - (x1 - x2) * (y - y2)
    d2 = (x - x3) * (y2 - y3) - (x2 - x3) * (y - y3)
    d3 = (x - x1) * (y3 - y1) - (x3 - x1) * (y - y1)
    neg = d1 < 0 or d2 < 0 or d3 < 0
    pos = d1 > 0 or d2 > 0 or d3 > 0
    return not (neg and pos)


def draw(size):
    """Rows of (r, g, b, a) from the top."""
    s = size / 32.0
    px = [[(0, 0, 0, 0)] * size for _ in range(size)]
    top, bottom, left, right = int(3 * s), int(24 * s), int(1 * s), size - 1 - int(1 * s)
    tri = ((16 * s, 6 * s), (6 * s, 21 * s), (26 * s, 21 * s))
    for y in range(size):
        for x in range(size):
            cx, cy = x + 0.5, y + 0.5
            if top <= y <= bottom and left <= x <= right:
                edge = y in (top, bottom) or x in (left, right)
                colour = FRAME if edge else SCREEN
                if not edge and inside(tri, cx, cy):
                    # Colour blends from red at the apex to green and blue below.
                    t = max(0.0, min(1.0, (cy - tri[0][1]) / (tri[1][1] - tri[0][1])))
                    u = max(0.0, min(1.0, (cx - tri[1][0]) / (tri[2][0] - tri[1][0])))
                    colour = (int(255 * (1 - t)), int(255 * t * (1 - u)), int(255 * t * u))
                px[y][x] = (*colour, 255)
            elif bottom < y <= bottom + max(1, int(3 * s)) and abs(cx - size / 2) < 4 * s:
                px[y][x] = (*STAND, 255)
            elif y > bottom + int(3 * s) and y <= bottom + int(5 * s) and abs(cx - size / 2) < 9 * s:
                px[y][x] = (*STAND, 255)
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
