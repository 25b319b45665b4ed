#!/bin/sh
# Draws Tarnwell's application icon (resource 128) at 32x32 and 16x16 with ImageMagick:
# a wave burst and its fainter, later echo on a dark blue tile.
# Usage: scripts/make-icon.sh   (writes res/icons/tarnwell-32.png and tarnwell-16.png)
set -eu
cd "$(dirname "$0")/.."
out=res/icons
mkdir -p "$out"

# Points of a decaying sine burst: x0 start, amplitude a, centre line y, over w pixels (at 4x scale).
wave() {
    awk -v x0="$1" -v a="$2" -v y="$3" -v w="$4" 'BEGIN {
        for (i = 0; i <= w; i += 2) {
            env = sin(3.14159265 * i / w);
            printf "%d,%d ", x0 + i, y - a * env * sin(i / 5.0);
        }
    }'
}

big=$(mktemp --suffix=.png)
trap 'rm -f "$big"' EXIT
# Draw at 128x128 and scale down, so the lines come out smooth at both sizes.
convert -size 128x128 xc:none \
    -fill '#1d3f6e' -stroke '#0e2340' -strokewidth 4 -draw 'roundrectangle 4,4 123,123 22,22' \
    -fill none -stroke '#ffffff' -strokewidth 9 -draw "polyline $(wave 14 34 52 64)" \
    -stroke '#7fc4ff' -strokewidth 7 -draw "polyline $(wave 52 18 90 64)" \
    "$big"
convert "$big" -resize 32x32 "$out/tarnwell-32.png"
convert "$big" -resize 16x16 "$out/tarnwell-16.png"
