#!/bin/sh
# How each file here was made (Debian 12: ImageMagick 6.9.11, libpng 1.6.39
# tools). NAME.png is the test input; NAME.pam is ImageMagick's decode of
# it, 8 bits a sample. 16-bit files are made from 8-bit pictures, so their
# samples are v x 257 and stripping to the high byte equals ImageMagick's
# rounding.
set -e
cd "$(dirname "$0")"
ref() { convert "$1.png" -depth 8 "$1.pam"; }
convert -seed 7 -size 37x29 plasma:fractal -depth 8 src_rgb.png
convert -size 40x30 xc:none -fill red -draw "circle 20,15 20,3" -fill '#0000ff80' -draw "rectangle 0,0 12,9" -depth 8 src_rgba.png
# Palette with a tRNS chunk (PNG8 writes transparency into the palette).
convert src_rgba.png -channel A -threshold 50% +channel PNG8:palette_trns.png; ref palette_trns
# Grey of 2 bits.
convert src_rgb.png -colorspace Gray -depth 8 -depth 2 -define png:color-type=0 -define png:bit-depth=2 grey2.png; ref grey2
# RGB of 8 bits, RGBA of 16.
convert src_rgb.png -define png:color-type=2 rgb8.png; ref rgb8
convert src_rgba.png -depth 16 -define png:color-type=6 -define png:bit-depth=16 rgba16.png; ref rgba16
# Interlaced (Adam7) RGBA.
convert src_rgba.png -interlace PNG -define png:color-type=6 interlaced_rgba.png; ref interlaced_rgba
# Opaque pure magenta: the key colour itself.
convert -size 5x3 xc:'#ff00ff' -alpha set -size 1x1 xc:none -compose copy -composite -define png:color-type=6 keycolour.png; ref keycolour
# A corrupted CRC of the image data (a critical chunk: the file is refused).
cp rgb8.png bad_crc_idat.png
off=$(grep -obUaP 'IDAT' bad_crc_idat.png | head -1 | cut -d: -f1)
len=$(od -An -tu1 -j $((off - 4)) -N4 bad_crc_idat.png | awk '{print $1*16777216+$2*65536+$3*256+$4}')
printf '\000\000\000\000' | dd of=bad_crc_idat.png bs=1 seek=$((off + 4 + len)) conv=notrunc 2>/dev/null
pngfix bad_crc_idat.png 2>&1 | grep -q . || true
rm -f src_rgb.png src_rgba.png
# 400 x 200 RGBA: its rows take more than the work buffer holds.
python3 wide_rgba.py
# 176 x 208 RGB: an image as large as a handset page shows, held while the
# next page is made.
convert -size 176x208 gradient:'#c04000-#0040c0' -depth 8 -define png:color-type=2 page.png
