#!/usr/bin/env bash
# Remakes the six bundled face pictures, pictures/b1.jpg ... b6.jpg: 256 x 256
# baseline JPEGs, each with its own colours, its number in large type and an
# arrow with "UP" at the top edge, so a face shown the wrong way round is easy
# to spot. Needs ImageMagick (Debian package imagemagick).
set -euo pipefail
out="${1:-$(dirname "$0")/../pictures}"
mkdir -p "$out"

# background, foreground per face
colours=("#c62828 #ffeb3b" "#1565c0 #ffffff" "#2e7d32 #f8bbd0"
         "#6a1b9a #b2ff59" "#ef6c00 #0d47a1" "#00838f #000000")

for i in 1 2 3 4 5 6; do
  read -r bg fg <<<"${colours[$((i - 1))]}"
  convert -size 256x256 "xc:$bg" \
    -fill none -stroke "$fg" -strokewidth 8 -draw "rectangle 8,8 247,247" \
    -stroke none -fill "$fg" \
    -draw "polygon 128,18 100,52 118,52 118,70 138,70 138,52 156,52" \
    -font Helvetica-Bold -pointsize 22 -draw "text 164,50 'UP'" \
    -pointsize 170 -gravity center -annotate +0+20 "$i" \
    -interlace none -quality 92 -sampling-factor 2x2 "$out/b$i.jpg"
done
