#!/bin/sh
# How each file here was made (Debian 12: netpbm 11.01, ImageMagick 6.9.11).
# NAME.wbmp is the test input; NAME.pbm is wbmptopbm's decode of it, the
# reference the decoder's pixels are compared with. The random bitmaps come
# from ImageMagick with a fixed seed.
set -e
cd "$(dirname "$0")"
for w in 1 7 8 9 128 130 256 257; do
  for h in 1 300; do
    convert -seed $w$h -size ${w}x$h xc: +noise Random -colorspace Gray -threshold 50% src.pbm
    pbmtowbmp src.pbm > netpbm_${w}x$h.wbmp
    wbmptopbm netpbm_${w}x$h.wbmp > netpbm_${w}x$h.pbm
  done
done
# ImageMagick's own writer.
convert -size 33x17 pattern:checkerboard -threshold 50% wbmp:magick_33x17.wbmp
wbmptopbm magick_33x17.wbmp > magick_33x17.pbm
convert -size 200x40 xc:white -fill black -draw "circle 100,20 100,5" wbmp:magick_200x40.wbmp
wbmptopbm magick_200x40.wbmp > magick_200x40.pbm
rm -f src.pbm
