#!/bin/sh
# How each file here was made (Debian 12: netpbm 11.01, ImageMagick 6.9.11).
# NAME.wbmp is the test input; NAME.pbm is wbmptopbm's decode of it, the
# reference the decoder's pixels are compared with. The random bitmaps come
# from ImageMagick with a fixed seed.
set -e
cd "$(dirname "$0")"
for size in 257x1 9x300; do
  w=${size%x*} h=${size#*x}
  convert -seed $w$h -size $size xc: +noise Random -colorspace Gray -threshold 50% src.pbm
  pbmtowbmp src.pbm > netpbm_$size.wbmp
  wbmptopbm netpbm_$size.wbmp > netpbm_$size.pbm
done
# ImageMagick's own writer.
convert -size 33x17 pattern:checkerboard -threshold 50% wbmp:magick_33x17.wbmp
wbmptopbm magick_33x17.wbmp > magick_33x17.pbm
rm -f src.pbm
