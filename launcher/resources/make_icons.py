#!/usr/bin/env python3
"""Draws the launcher's two icons and writes them as .ico files.

    make_icons.py OUTPUT_DIRECTORY

Stellarix3D.ico (the program): 32x32 in 16 and in 256 colours, 16x16 in 16
colours. applet.ico (".sxvm" files): 32x32 and 16x16 in 16 colours, 32x32 and
48x48 in 256 colours. Both are drawn from shapes at each size, so the small
images stay sharp. The outputs are committed beside this script; rerun it
after changing a drawing.
"""
import struct
import sys
from pathlib import Path

# The sixteen colours of the standard VGA palette, in Windows' order.
VGA = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def palette_256():
    colours = list(VGA)
    steps = [0, 51, 102, 153, 204, 255]
    colours += [(r, g, b) for r in steps for g in steps for b in steps]
    colours += [(8 + 10 * i, 8 + 10 * i, 8 + 10 * i) for i in range(24)]
    return colours[:256]


def inside(polygon, x, y):
    """Even-odd point in polygon."""
    result = False
    n = len(polygon)
    for i in range(n):
        x1, y1 = polygon[i]
        x2, y2 = polygon[(i + 1) % n]
        if (y1 > y) != (y2 > y):
            at = x1 + (y - y1) * (x2 - x1) / (y2 - y1)
            if x < at:
                result = not result
    return result


def cube(cx, cy, size):
    """The three visible faces of an isometric cube, as (polygon, colour)."""
    h = size / 2
    q = size / 4
    top = (cx, cy - h)
    right = (cx + h * 0.9, cy - q)
    left = (cx - h * 0.9, cy - q)
    centre = (cx, cy)
    bottom = (cx, cy + h)
    right_low = (cx + h * 0.9, cy + q)
    left_low = (cx - h * 0.9, cy + q)
    return [
        ([top, right, centre, left], (110, 170, 255)),
        ([left, centre, bottom, left_low], (20, 70, 200)),
        ([centre, right, right_low, bottom], (0, 20, 110)),
    ]


def star(cx, cy, r):
    points = []
    for i in range(8):
        radius = r if i % 2 == 0 else r * 0.3
        dx, dy = [(0, -1), (0.7, -0.7), (1, 0), (0.7, 0.7), (0, 1), (-0.7, 0.7), (-1, 0),
                  (-0.7, -0.7)][i]
        points.append((cx + dx * radius, cy + dy * radius))
    return (points, (255, 255, 0))


def program_shapes():
    return cube(0.5, 0.52, 0.88) + [star(0.5, 0.3, 0.17)]


def applet_shapes():
    page = [(0.16, 0.04), (0.64, 0.04), (0.86, 0.26), (0.86, 0.96), (0.16, 0.96)]
    fold = [(0.64, 0.04), (0.64, 0.26), (0.86, 0.26)]
    return [(page, (255, 255, 255)), (fold, (192, 192, 192))] + cube(0.5, 0.62, 0.5)


def render(shapes, size, palette):
    """Palette indices and a transparency mask, one row per line, top first."""
    sub = 4
    regions = []
    colours = []
    for y in range(size):
        region_row = []
        colour_row = []
        for x in range(size):
            votes = {}
            for sy in range(sub):
                for sx in range(sub):
                    px = (x + (sx + 0.5) / sub) / size
                    py = (y + (sy + 0.5) / sub) / size
                    hit = -1
                    for k, (polygon, _) in enumerate(shapes):
                        if inside(polygon, px, py):
                            hit = k  # later shapes lie on top
                    votes[hit] = votes.get(hit, 0) + 1
            region = max(votes, key=lambda k: (votes[k], k))
            region_row.append(region)
            colour_row.append(None if region < 0 else shapes[region][1])
        regions.append(region_row)
        colours.append(colour_row)

    # Dark outlines where a shape meets the background or another shape.
    def region_at(x, y):
        if 0 <= x < size and 0 <= y < size:
            return regions[y][x]
        return -1

    for y in range(size):
        for x in range(size):
            r = regions[y][x]
            if r < 0:
                continue
            neighbours = [region_at(x + 1, y), region_at(x - 1, y), region_at(x, y + 1),
                          region_at(x, y - 1)]
            if -1 in neighbours:
                colours[y][x] = (0, 0, 0)
            elif any(n > r for n in neighbours) and size >= 32:
                colours[y][x] = (0, 0, 64)

    def nearest(colour):
        return min(range(len(palette)),
                   key=lambda i: sum((a - b) ** 2 for a, b in zip(palette[i], colour)))

    indices = [[0 if c is None else nearest(c) for c in row] for row in colours]
    mask = [[1 if c is None else 0 for c in row] for row in colours]
    return indices, mask


def pack_rows(rows, bits):
    """Bottom-up rows, each padded to four bytes."""
    data = bytearray()
    for row in reversed(rows):
        line = bytearray()
        if bits == 8:
            line.extend(row)
        elif bits == 4:
            for i in range(0, len(row), 2):
                hi = row[i]
                lo = row[i + 1] if i + 1 < len(row) else 0
                line.append((hi << 4) | lo)
        elif bits == 1:
            for i in range(0, len(row), 8):
                byte = 0
                for j in range(8):
                    if i + j < len(row) and row[i + j]:
                        byte |= 0x80 >> j
                line.append(byte)
        while len(line) % 4:
            line.append(0)
        data.extend(line)
    return bytes(data)


def image(shapes, size, bits):
    palette = VGA if bits == 4 else palette_256()
    indices, mask = render(shapes, size, palette)
    xor = pack_rows(indices, bits)
    andmask = pack_rows(mask, 1)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bits, 0, len(xor) + len(andmask),
                         0, 0, 0, 0)
    colours = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in palette)
    return header + colours + xor + andmask


def write_ico(path, shapes, formats):
    images = [(size, bits, image(shapes, size, bits)) for size, bits in formats]
    out = bytearray(struct.pack('<HHH', 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, bits, data in images:
        colour_count = 16 if bits == 4 else 0
        out += struct.pack('<BBBBHHII', size % 256, size % 256, colour_count, 0, 1, bits,
                           len(data), offset)
        offset += len(data)
    for _, _, data in images:
        out += data
    Path(path).write_bytes(bytes(out))


def main():
    out = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).parent)
    write_ico(out / 'Stellarix3D.ico', program_shapes(), [(32, 4), (32, 8), (16, 4)])
    write_ico(out / 'applet.ico', applet_shapes(), [(32, 4), (16, 4), (32, 8), (48, 8)])


if __name__ == '__main__':
    main()
