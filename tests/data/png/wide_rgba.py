#!/usr/bin/env python3
# Writes wide_rgba.png: 400 x 200 RGBA of 8 bits, half-transparent red. Its
# rows take 320,000 bytes, more than the shared work buffer holds.
import struct
import zlib


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


width, height = 400, 200
rows = b"".join(b"\0" + bytes((255, 0, 0, 128)) * width for _ in range(height))
png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
       + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))
with open("wide_rgba.png", "wb") as f:
    f.write(png)
