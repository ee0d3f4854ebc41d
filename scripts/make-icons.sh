#!/usr/bin/env bash
# Remakes the PNG icons data/icons/vorlix-N.png (48, 64, 128 and 256 pixels)
# from the scalable icon data/icons/vorlix.svg, with librsvg's rsvg-convert.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/need-packages.sh"
need_packages librsvg2-bin
for size in 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" "$here/data/icons/vorlix.svg" \
    -o "$here/data/icons/vorlix-$size.png"
done
