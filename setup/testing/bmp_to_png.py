#!/usr/bin/env python3
"""bmp_to_png.py IN.bmp OUT.png: a 24-bit bottom-up BMP (what sxdrive saves)
as an RGB PNG, with the standard library only."""
import struct
import sys
import zlib


def bmp_to_png(source, target):
    data = open(source, "rb").read()
    if data[:2] != b"BM":
        raise ValueError("not a BMP file")
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    if bits != 24 or not 0 < width <= 4096 or not 0 < height <= 4096:
        raise ValueError("not a 24-bit bottom-up picture of a sane size")
    stride = (width * 3 + 3) & ~3
    if offset + stride * height > len(data):
        raise ValueError("the pixels are cut short")
    raw = bytearray()
    for y in range(height - 1, -1, -1):
        row = data[offset + y * stride:offset + y * stride + width * 3]
        raw.append(0)  # no filter
        for x in range(0, width * 3, 3):
            raw += bytes((row[x + 2], row[x + 1], row[x]))

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body)))

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b"")
    open(target, "wb").write(png)


if __name__ == "__main__":
    bmp_to_png(sys.argv[1], sys.argv[2])
