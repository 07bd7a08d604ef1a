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
# Palettes of 1, 2, 4 and 8 bits.
for b in 1 2 4 8; do
  convert src_rgb.png -colors $((1 << b)) -define png:bit-depth=$b PNG8:palette$b.png; ref palette$b
done
# Grey of 1, 2, 4, 8 and 16 bits.
for b in 1 2 4 8 16; do
  convert src_rgb.png -colorspace Gray -depth 8 -depth $b -define png:color-type=0 -define png:bit-depth=$b grey$b.png; ref grey$b
done
# Grey with alpha, 8 and 16 bits; grey with a tRNS colour.
convert src_rgba.png -colorspace Gray -define png:color-type=4 -define png:bit-depth=8 greyalpha8.png; ref greyalpha8
convert src_rgba.png -colorspace Gray -depth 16 -define png:color-type=4 -define png:bit-depth=16 greyalpha16.png; ref greyalpha16
convert src_rgba.png -colorspace Gray -channel A -threshold 50% +channel -define png:color-type=0 -define png:bit-depth=8 grey_trns.png; ref grey_trns
# RGB and RGBA, 8 and 16 bits; RGB with a tRNS colour.
convert src_rgb.png -define png:color-type=2 rgb8.png; ref rgb8
convert src_rgb.png -depth 16 -define png:color-type=2 -define png:bit-depth=16 rgb16.png; ref rgb16
convert src_rgba.png -define png:color-type=6 rgba8.png; ref rgba8
convert src_rgba.png -depth 16 -define png:color-type=6 -define png:bit-depth=16 rgba16.png; ref rgba16
convert src_rgba.png -channel A -threshold 50% +channel -define png:color-type=2 rgb_trns.png; ref rgb_trns
# Interlaced (Adam7), RGBA and a 4-bit palette.
convert src_rgba.png -interlace PNG -define png:color-type=6 interlaced_rgba.png; ref interlaced_rgba
convert src_rgb.png -colors 16 -interlace PNG -define png:bit-depth=4 PNG8:interlaced_palette4.png; ref interlaced_palette4
# Opaque pure magenta: the key colour itself.
convert -size 5x3 xc:'#ff00ff' -alpha set -size 1x1 xc:none -compose copy -composite -define png:color-type=6 keycolour.png; ref keycolour
# 256 pixels wide: one row a band.
convert -size 256x5 gradient:yellow-navy -depth 8 -define png:color-type=2 wide256.png; ref wide256
# 400 x 200 RGBA needs 320,000 bytes of rows: more than the work buffer.
convert -size 400x200 xc:'#11223344' -define png:color-type=6 large_rgba.png
# Corrupted CRCs: of the image data (a critical chunk: the file is refused)
# and of the gAMA chunk (ancillary: libpng drops it and decodes the rest).
cp rgb8.png bad_crc_idat.png
off=$(grep -obUaP 'IDAT' bad_crc_idat.png | head -1 | cut -d: -f1)
len=$(od -An -tu1 -j $((off - 4)) -N4 bad_crc_idat.png | awk '{print $1*16777216+$2*65536+$3*256+$4}')
printf '\000\000\000\000' | dd of=bad_crc_idat.png bs=1 seek=$((off + 4 + len)) conv=notrunc 2>/dev/null
cp rgb8.png bad_crc_gama.png
off=$(grep -obUaP 'gAMA' bad_crc_gama.png | head -1 | cut -d: -f1)
printf '\000\000\000\000' | dd of=bad_crc_gama.png bs=1 seek=$((off + 8)) conv=notrunc 2>/dev/null
pngfix bad_crc_idat.png 2>&1 | grep -q . || true
rm -f src_rgb.png src_rgba.png
