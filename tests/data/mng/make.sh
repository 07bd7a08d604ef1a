#!/bin/sh
# How each file here was made (Debian 12: ImageMagick 6.9.11). NAME.mng is
# the test input; NAME.pam is ImageMagick's decode of every frame composed
# onto the canvas (-coalesce), RGBA one after the other, and NAME.txt its
# frame list: width height left top delay (1/100 s) per frame.
set -e
cd "$(dirname "$0")"
ref() {
  convert "$1.mng" -coalesce -depth 8 "$1.pam"
  identify -format "%w %h %X %Y %T\n" "$1.mng" > "$1.txt"
}
# Three frames: plasma, a disc on nothing, flat green.
convert -seed 11 -size 48x36 plasma:red-yellow -depth 8 f1.png
convert -size 48x36 xc:none -fill blue -draw "circle 24,18 24,4" -depth 8 f2.png
convert -size 48x36 xc:'#00ff0080' -fill '#ff00ff' -draw "rectangle 0,0 5,5" -depth 8 f3.png
# ImageMagick loops for ever unless told otherwise.
convert -delay 20 f1.png f2.png f3.png -strip forever.mng; ref forever
convert -delay 20 -loop 3 f1.png f2.png f3.png thrice.mng; ref thrice
# Frames of 50 ms: shown for at least 100 ms each.
convert -delay 5 f1.png f2.png f3.png fast.mng; ref fast
# The first frame leaves most of the canvas transparent.
convert -delay 20 -loop 2 f2.png f1.png transparent_first.mng; ref transparent_first
# A canvas of 300 x 300 needs 360,000 bytes: more than the work buffer.
convert -delay 20 -size 300x300 xc:red xc:blue large.mng
rm -f f1.png f2.png f3.png
