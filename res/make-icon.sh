#!/usr/bin/env bash
# Draws res/ostrim.png, the program's icon: a road running into the distance, a roadside sensor
# and the radio waves that switch it. Run once after changing the drawing; the PNG is committed
# so a build needs no ImageMagick.
set -euo pipefail
cd "$(dirname "$0")"
convert -size 64x64 xc:none \
  -fill '#2b6cb0' -stroke '#1a4373' -strokewidth 2 -draw 'roundrectangle 2,2 61,61 10,10' \
  -fill '#4a4a4a' -stroke none -draw 'polygon 6,60 28,16 36,16 58,60' \
  -stroke '#f6e05e' -strokewidth 2 -draw 'line 32,22 32,28' -draw 'line 32,34 32,42' \
  -draw 'line 32,48 32,58' \
  -stroke none -fill '#48bb78' -draw 'circle 49,30 53,30' \
  -fill none -stroke white -strokewidth 2 \
  -draw 'arc 41,14 57,30 200,340' -draw 'arc 36,8 62,34 205,335' \
  -stroke none -fill white -draw 'rectangle 48,34 50,44' \
  PNG32:ostrim.png
# The Windows program's icon resource, from the same drawing.
convert ostrim.png -define icon:auto-resize=48,32,16 ostrim.ico
