#!/bin/sh
# How each file here was made (Debian 12: ImageMagick 6.9.11, giflib-tools
# 5.2.1). NAME.gif is the test input; NAME.pam is ImageMagick's decode of
# every frame as it is stored (no coalescing), RGBA one after the other, and
# NAME.txt ImageMagick's frame list: width height left top delay (1/100 s)
# disposal per frame.
set -e
cd "$(dirname "$0")"
ref() {
  convert "$1.gif" -depth 8 "$1.pam"
  identify -format "%w %h %X %Y %T %D\n" "$1.gif" > "$1.txt"
}
# Interlaced, odd height (rows of the later passes end short).
convert -size 37x29 plasma:fractal -seed 7 -colors 64 -interlace GIF interlaced.gif; ref interlaced
# Random pixels in 256 colours through giflib's encoder: the code table fills
# up and is cleared again, many times over.
convert -seed 3 -size 160x120 xc: +noise Random -colors 256 noise.gif
giftool < noise.gif > noise_giflib.gif; ref noise_giflib
# An animation of three frames with their own palettes, delays and loop
# count 2 (three plays), optimised into sub-rectangles with disposal methods
# and transparent pixels.
convert -seed 11 -size 48x36 plasma:red-yellow -colors 32 f1.png
convert -seed 12 -size 48x36 plasma:green-blue -colors 32 f2.png
convert f2.png -fill white -draw "rectangle 10,10 30,20" f3.png
convert -loop 2 -delay 10 f1.png -delay 35 f2.png -delay 200 f3.png anim_local.gif
convert anim_local.gif -layers optimize anim_optimized.gif; ref anim_optimized
# Frames with transparent parts, each cleared to the background after it
# shows, and sub-rectangles where optimising finds them.
convert -size 40x30 xc:none -fill blue -draw "rectangle 2,2 20,12" t1.png
convert -size 40x30 xc:none -fill green -draw "circle 25,18 25,8" t2.png
convert -loop 5 -dispose Background -delay 15 t1.png t2.png -layers OptimizeTransparency anim_transparent.gif
ref anim_transparent
rm -f f1.png f2.png f3.png t1.png t2.png noise.gif anim_local.gif
