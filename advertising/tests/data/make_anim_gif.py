#!/usr/bin/env python3
"""Writes anim.gif: 64 x 48, three frames of 100 ms, looping. Frame k is
filled with red, green or blue and carries a white 8 x 8 square at
x = 8 + 16k, y = 4, so the picture's centre shows the frame's colour."""
import struct
import sys

W, H = 64, 48
PALETTE = [(255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 255)]
MIN_CODE = 2  # four colours


def frame_pixels(k):
    px = [k] * (W * H)
    for y in range(4, 12):
        for x in range(8 + 16 * k, 16 + 16 * k):
            px[y * W + x] = 3
    return px


def lzw_uncompressed(pixels):
    # Clear before the table would widen the codes: every code stays 3 bits.
    clear, end, width = 1 << MIN_CODE, (1 << MIN_CODE) + 1, MIN_CODE + 1
    run = (1 << MIN_CODE) - 2
    codes = []
    for i, p in enumerate(pixels):
        if i % run == 0:
            codes.append(clear)
        codes.append(p)
    codes.append(end)
    bits, nbits, out = 0, 0, bytearray()
    for c in codes:
        bits |= c << nbits
        nbits += width
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8
    if nbits:
        out.append(bits & 0xFF)
    return bytes(out)


def sub_blocks(data):
    out = bytearray()
    for i in range(0, len(data), 255):
        chunk = data[i:i + 255]
        out += bytes([len(chunk)]) + chunk
    return bytes(out + b'\x00')


def main(path):
    out = bytearray(b'GIF89a')
    out += struct.pack('<HHBBB', W, H, 0xF1, 0, 0)  # global table of 4 colours
    for r, g, b in PALETTE:
        out += bytes([r, g, b])
    out += b'\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00'  # loop forever
    for k in range(3):
        out += b'\x21\xF9\x04\x00' + struct.pack('<H', 10) + b'\x00\x00'  # 10 cs
        out += b'\x2C' + struct.pack('<HHHHB', 0, 0, W, H, 0)
        out += bytes([MIN_CODE]) + sub_blocks(lzw_uncompressed(frame_pixels(k)))
    out += b'\x3B'
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'anim.gif')
