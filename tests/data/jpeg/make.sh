#!/bin/sh
# Rebuilds the JPEG test files from synthetic pictures with the libjpeg-turbo
# tools (Debian libjpeg-turbo-progs 2.1.5). Each line makes one file.
set -e
cd "$(dirname "$0")"
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT
python3 - "$T" <<'PY'
import math, sys
out = sys.argv[1]
def picture(w, h, grey=False):
    px = bytearray()
    for y in range(h):
        for x in range(w):
            r = (x * 255 // max(w - 1, 1)) ^ ((y // 4) * 16 & 0xFF)
            g = int(128 + 100 * math.sin(x / 5.0) * math.cos(y / 7.0))
            b = (y * 255 // max(h - 1, 1)) if (x // 8 + y // 8) % 2 else 255 - (x * 3 % 256)
            if grey:
                px.append((r * 77 + g * 150 + b * 29) >> 8)
            else:
                px += bytes((r, g, b))
    head = b"P5" if grey else b"P6"
    return head + b"\n%d %d\n255\n" % (w, h) + bytes(px)
for name, w, h, grey in [("c61x45", 61, 45, False), ("c48x32", 48, 32, False),
                         ("g37x29", 37, 29, True), ("c4000x8", 4000, 8, False),
                         ("c200x120", 200, 120, False), ("c352x40", 352, 40, False)]:
    open(f"{out}/{name}.{'pgm' if grey else 'ppm'}", "wb").write(picture(w, h, grey))
open(f"{out}/separate.scans", "w").write("0;\n1;\n2;\n")
PY
cjpeg -sample 2x2,1x1,1x1 -outfile b420.jpg "$T/c61x45.ppm"
cjpeg -sample 2x1,1x1,1x1 -outfile b422.jpg "$T/c61x45.ppm"
cjpeg -grayscale -outfile grey.jpg "$T/g37x29.pgm"
cjpeg -restart 1B -outfile restart1.jpg "$T/c61x45.ppm"
cjpeg -quality 50 -outfile wide4000x8.jpg "$T/c4000x8.ppm"
cjpeg -outfile c200x120.jpg "$T/c200x120.ppm"
cjpeg -sample 1x1,1x1,1x1 -outfile c352x40.jpg "$T/c352x40.ppm"
cjpeg -scans "$T/separate.scans" -outfile scans.jpg "$T/c61x45.ppm"
cjpeg -progressive -outfile progressive.jpg "$T/c48x32.ppm"
cjpeg -arithmetic -outfile arithmetic.jpg "$T/c48x32.ppm"
