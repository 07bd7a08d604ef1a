"""A PNG writer with nothing but zlib and struct, for the drawing scripts."""
import struct
import zlib


def write_png(path, width, height, colour_type, rows):
    """Writes 8-bit rows (bytes each, without filter bytes) as a PNG of the
    colour type (0 grey, 6 RGBA)."""
    raw = b"".join(b"\0" + row for row in rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)
