#!/usr/bin/env bash
# Draws the application icon (a white "T" facet mark on a blue-to-teal rounded tile) and writes
# tessaryn.ico with 16, 32, 48 and 256 pixel images. Needs ImageMagick.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Master drawing at 256 px; smaller sizes are scaled from it.
convert -size 256x256 gradient:'#1E5BD8-#14B8A6' "$work/gradient.png"
convert -size 256x256 xc:black -fill white -draw 'roundrectangle 8,8 247,247 48,48' \
  "$work/mask.png"
convert "$work/gradient.png" "$work/mask.png" -alpha off -compose CopyOpacity -composite \
  "$work/tile.png"
convert "$work/tile.png" \
  -fill 'rgba(255,255,255,0.16)' -draw 'polygon 8,8 247,8 8,170' \
  -fill white -draw 'polygon 52,58 204,58 204,96 148,96 148,206 108,206 108,96 52,96' \
  -fill '#0B2E6F' -draw 'polygon 148,96 204,96 148,140' \
  "$work/mark.png"
# The highlight must not spill outside the rounded corners.
convert "$work/mark.png" "$work/mask.png" -alpha off -compose CopyOpacity -composite \
  "$work/master.png"

for size in 16 32 48 256; do
  convert "$work/master.png" -filter Lanczos -resize ${size}x${size} "$work/icon-$size.png"
done
# The 16 px image gets a stronger outline so that the mark stays readable in title bars.
convert "$work/icon-16.png" -unsharp 0x0.6+1.0+0 "$work/icon-16.png"
entries=()
for size in 16 32 48 256; do
  convert "$work/icon-$size.png" -depth 8 "rgba:$work/icon-$size.rgba"
  entries+=("$size:$work/icon-$size.rgba")
done
python3 "$here/write_ico.py" "$here/tessaryn.ico" "${entries[@]}"
# The committed icon's PNG images were then recompressed losslessly with optipng -o7 (every
# kilobyte counts towards the setup program's size limit).
echo "wrote $here/tessaryn.ico"
