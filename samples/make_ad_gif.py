#!/usr/bin/env python3
"""Writes ad.gif, the default advertisement the road installs: a ringed
planet in a starry sky with a moon going round it and the player's name,
200 x 138, six frames of 150 ms, looping; 64 colours.

  python3 samples/make_ad_gif.py
"""
import math
import os
import random
import struct

W, H, FRAMES, MIN_CODE = 200, 138, 6, 6

# 5 x 7 letters of the name, one text row per line, '#' lit.
GLYPHS = {
    "S": [" ####", "#    ", "#    ", " ### ", "    #", "    #", "#### "],
    "T": ["#####", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  "],
    "E": ["#####", "#    ", "#    ", "#### ", "#    ", "#    ", "#####"],
    "L": ["#    ", "#    ", "#    ", "#    ", "#    ", "#    ", "#####"],
    "A": [" ### ", "#   #", "#   #", "#####", "#   #", "#   #", "#   #"],
    "R": ["#### ", "#   #", "#   #", "#### ", "# #  ", "#  # ", "#   #"],
    "I": ["#####", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", "#####"],
    "X": ["#   #", "#   #", " # # ", "  #  ", " # # ", "#   #", "#   #"],
    "3": ["#### ", "    #", "    #", " ### ", "    #", "    #", "#### "],
    "D": ["#### ", "#   #", "#   #", "#   #", "#   #", "#   #", "#### "],
    " ": ["     "] * 7,
}


def palette():
    p = []
    for k in range(16):  # sky, dark blue to violet
        t = k / 15
        p.append((int(8 + 40 * t), int(10 + 14 * t), int(40 + 60 * t)))
    for k in range(32):  # planet, dark to bright orange
        t = k / 31
        p.append((int(30 + 225 * t), int(12 + 140 * t ** 1.2), int(10 + 60 * t ** 2)))
    for k in range(8):  # ring, gold
        t = k / 7
        p.append((int(90 + 150 * t), int(70 + 130 * t), int(30 + 60 * t)))
    for k in range(7):  # moon, grey
        t = k / 6
        p.append((int(50 + 180 * t),) * 3)
    p.append((255, 255, 255))
    return p


def lit(nx, ny, nz):
    lx, ly, lz = -0.55, -0.45, 0.70
    return max(0.0, nx * lx + ny * ly + nz * lz)


def frame(k, stars):
    px = [0] * (W * H)
    for y in range(H):
        sky = min(15, int(16 * y / H))
        for x in range(W):
            px[y * W + x] = sky
    for sx, sy, twinkle in stars:
        if (k + twinkle) % 3:
            px[sy * W + sx] = 63
    cx, cy, r = 78, 80, 38
    tilt, ring_in, ring_out = 0.28, 1.35, 1.9

    def ring(front):
        for y in range(H):
            for x in range(W):
                dx, dy = (x - cx) / r, (y - cy) / (r * tilt)
                d = math.hypot(dx, dy)
                if ring_in <= d <= ring_out and (dy > 0) == front:
                    shade = 0.5 + 0.5 * math.cos((d - ring_in) * 9)
                    px[y * W + x] = 48 + min(7, int(8 * shade))

    ring(False)
    for y in range(cy - r, cy + r + 1):
        for x in range(cx - r, cx + r + 1):
            nx, ny = (x - cx) / r, (y - cy) / r
            if nx * nx + ny * ny <= 1:
                nz = math.sqrt(1 - nx * nx - ny * ny)
                band = 0.12 * math.sin(ny * 11 + 0.6 * math.sin(nx * 3))
                light = 0.12 + 0.88 * lit(nx, ny, nz) + band
                px[y * W + x] = 16 + max(0, min(31, int(32 * light)))
    ring(True)
    # The moon goes round behind the planet's right side.
    a = 2 * math.pi * k / FRAMES
    mx, my, mr = int(cx + 70 * math.cos(a)), int(cy - 22 + 14 * math.sin(a)), 9
    behind = math.sin(a) < 0 and abs(mx - cx) < r + mr
    for y in range(my - mr, my + mr + 1):
        for x in range(mx - mr, mx + mr + 1):
            nx, ny = (x - mx) / mr, (y - my) / mr
            if 0 <= x < W and 0 <= y < H and nx * nx + ny * ny <= 1:
                if behind and 16 <= px[y * W + x] < 48:
                    continue
                nz = math.sqrt(1 - nx * nx - ny * ny)
                px[y * W + x] = 56 + min(6, int(7 * (0.1 + 0.9 * lit(nx, ny, nz))))
    text(px, "STELLARIX", 88, 8, 2)
    text(px, "3D", 174, 26, 2)
    return px


def text(px, words, x0, y0, scale):
    for i, ch in enumerate(words):
        for row, line in enumerate(GLYPHS[ch]):
            for col, c in enumerate(line):
                if c != "#":
                    continue
                for dy in range(scale):
                    for dx in range(scale):
                        x, y = x0 + (i * 6 + col) * scale + dx, y0 + row * scale + dy
                        if 0 <= x < W and 0 <= y < H:
                            px[y * W + x] = 63


def lzw_without_compression(pixels):
    # A clear code before the table would grow: every code keeps its width.
    clear, end, width = 1 << MIN_CODE, (1 << MIN_CODE) + 1, MIN_CODE + 1
    run = (1 << MIN_CODE) - 2
    codes = []
    for i, p in enumerate(pixels):
        if i % run == 0:
            codes.append(clear)
        codes.append(p)
    codes.append(end)
    bits = nbits = 0
    out = bytearray()
    for c in codes:
        bits |= c << nbits
        nbits += width
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8
    if nbits:
        out.append(bits)
    return bytes(out)


def blocks(data):
    out = bytearray()
    for i in range(0, len(data), 255):
        out += bytes([len(data[i:i + 255])]) + data[i:i + 255]
    return bytes(out) + b"\x00"


def main():
    random.seed(7)
    stars = [(random.randrange(W), random.randrange(H), random.randrange(3)) for _ in range(70)]
    out = bytearray(b"GIF89a") + struct.pack("<HHBBB", W, H, 0xF5, 0, 0)  # 64 colours
    for rgb in palette():
        out += bytes(rgb)
    out += b"\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00"
    for k in range(FRAMES):
        out += b"\x21\xF9\x04\x00" + struct.pack("<H", 15) + b"\x00\x00"
        out += b"\x2C" + struct.pack("<HHHHB", 0, 0, W, H, 0)
        out += bytes([MIN_CODE]) + blocks(lzw_without_compression(frame(k, stars)))
    out += b"\x3B"
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "ad.gif")
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
