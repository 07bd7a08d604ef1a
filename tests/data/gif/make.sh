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
# A still image with a gradient of 256 colours.
convert -size 61x47 gradient:red-blue -colors 256 gradient.gif; ref gradient
# Interlaced, odd height (rows of the later passes end short).
convert -size 37x29 plasma:fractal -seed 7 -colors 64 -interlace GIF interlaced.gif; ref interlaced
convert -seed 5 -size 13x1 plasma: -colors 16 -interlace GIF interlaced_1row.gif; ref interlaced_1row
# A transparent index: a disc on nothing.
convert -size 30x24 xc:none -fill red -draw "circle 15,12 15,3" transparent.gif; ref transparent
# Random pixels in 256 colours: the code table fills up and the encoder
# clears it again, many times over.
convert -seed 3 -size 160x120 xc: +noise Random -colors 256 noise.gif; ref noise
# giflib's encoder on the same picture (its own clear-code timing), then
# interlaced by giftool.
giftool < noise.gif > noise_giflib.gif; ref noise_giflib
giftool -i 1 < gradient.gif > gradient_giflib_interlaced.gif; ref gradient_giflib_interlaced
# An animation of three frames with their own palettes, delays and loop
# count 2 (three plays), optimised into sub-rectangles with disposal methods
# and transparent pixels.
convert -seed 11 -size 48x36 plasma:red-yellow -colors 32 f1.png
convert -seed 12 -size 48x36 plasma:green-blue -colors 32 f2.png
convert f2.png -fill white -draw "rectangle 10,10 30,20" f3.png
convert -loop 2 -delay 10 f1.png -delay 35 f2.png -delay 200 f3.png anim_local.gif; ref anim_local
convert anim_local.gif -layers optimize anim_optimized.gif; ref anim_optimized
convert -loop 0 -delay 7 -dispose Background f1.png -dispose Previous f3.png -dispose None f2.png \
  anim_dispose.gif; ref anim_dispose
# Frames with transparent parts, each cleared to the background after it
# shows, and sub-rectangles where optimising finds them.
convert -size 40x30 xc:none -fill blue -draw "rectangle 2,2 20,12" t1.png
convert -size 40x30 xc:none -fill green -draw "circle 25,18 25,8" t2.png
convert -loop 5 -dispose Background -delay 15 t1.png t2.png -layers OptimizeTransparency anim_transparent.gif
ref anim_transparent
# giflib's encoder re-writing the optimised animation.
giftool < anim_optimized.gif > anim_giflib.gif; ref anim_giflib
rm -f f1.png f2.png f3.png t1.png t2.png
