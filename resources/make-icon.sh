#!/usr/bin/env bash
# Draws the launcher's icon (a dark tile with a stylised ridge line and a
# green progress dot) at the usual sizes and packs them into one .ico.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
for s in 16 24 32 48 64 128 256; do
    /usr/bin/convert -size 256x256 xc:none \
        -fill '#10141c' -draw 'roundrectangle 8,8 247,247 48,48' \
        -fill '#3d6fd8' -draw 'polygon 30,200 100,90 140,150 170,110 226,200' \
        -fill '#e8ecf4' -draw 'polygon 100,90 118,118 106,126 92,112' \
        -fill '#60e060' -draw 'circle 196,60 196,78' \
        -resize ${s}x${s} "$tmp/icon-$s.png"
done
/usr/bin/convert "$tmp"/icon-{16,24,32,48,64,128,256}.png tarnwick.ico
rm -rf "$tmp"
