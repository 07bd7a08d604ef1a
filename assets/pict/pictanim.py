#!/usr/bin/env python3
"""Joins still pictograms (stored surfaces made by qor_pictconv) into one
animated pictogram file.

    python3 assets/pict/pictanim.py OUT DELAY_MS FRAME0 FRAME1 ...

The file, little-endian: a 68-byte image record (first byte 1; kind 17 at
byte 4; width, height, frame count and loop count as u16 at bytes 12, 14, 16
and 18; the transparency byte at 32), then for each frame its 28-byte frame
record (width, height, left, top as u16; delay in milliseconds as u32 at
byte 8; complete byte 1 at 16; band count 1 as u16 at 20) followed by the
frame's stored surface as the still file holds it.
"""
import struct
import sys


def main():
    out, delay, frames = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
    surfaces = [open(f, "rb").read() for f in frames]
    sizes = [struct.unpack_from("<II", s, 4) for s in surfaces]
    keyed = any(struct.unpack_from("<I", s, 20)[0] & 0x20 for s in surfaces)
    width = max(w for w, _ in sizes)
    height = max(h for _, h in sizes)
    head = bytearray(68)
    head[0] = 1
    struct.pack_into("<I", head, 4, 17)
    struct.pack_into("<HHHH", head, 12, width, height, len(frames), 0)
    head[32] = 1 if keyed else 0
    body = bytes(head)
    for (w, h), surface in zip(sizes, surfaces):
        record = bytearray(28)
        struct.pack_into("<HHHHI", record, 0, w, h, 0, 0, delay)
        record[16] = 1
        struct.pack_into("<H", record, 20, 1)
        body += bytes(record) + surface
    with open(out, "wb") as f:
        f.write(body)


if __name__ == "__main__":
    main()
