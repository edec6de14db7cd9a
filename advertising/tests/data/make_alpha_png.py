#!/usr/bin/env python3
"""Writes alpha.png: 3 x 1, RGBA, 8 bits: transparent black, orange
(200, 100, 0) at alpha 128, opaque blue."""
import struct
import sys
import zlib


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


rows = b"\x00" + bytes([0, 0, 0, 0, 200, 100, 0, 128, 0, 0, 255, 255])
png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 3, 1, 8, 6, 0, 0, 0)) +
       chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
with open(sys.argv[1] if len(sys.argv) > 1 else "alpha.png", "wb") as out:
    out.write(png)
