#!/usr/bin/env bash
# Draws the launcher's icon (a dark tile with a stylised ridge line and a
# green progress dot) at the usual sizes and packs them into one .ico. The
# small sizes are stored as bitmaps (what every loader reads); 128 and 256
# are stored as PNG, which Windows reads since Vista and which halves the file.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for s in 16 24 32 48 64 128 256; do
    /usr/bin/convert -size 256x256 xc:none \
        -fill '#10141c' -draw 'roundrectangle 8,8 247,247 48,48' \
        -fill '#3d6fd8' -draw 'polygon 30,200 100,90 140,150 170,110 226,200' \
        -fill '#e8ecf4' -draw 'polygon 100,90 118,118 106,126 92,112' \
        -fill '#60e060' -draw 'circle 196,60 196,78' \
        -resize ${s}x${s} -strip -define png:exclude-chunks=date,time "$tmp/icon-$s.png"
done
/usr/bin/convert "$tmp"/icon-{16,24,32,48,64,128,256}.png "$tmp/bitmaps.ico"

# Rewrites the .ico with the 128- and 256-pixel entries replaced by the PNG
# files themselves.
python3 - "$tmp" <<'PY'
import struct, sys
from pathlib import Path
tmp = Path(sys.argv[1])
data = (tmp / "bitmaps.ico").read_bytes()
_, kind, count = struct.unpack_from("<HHH", data, 0)
entries = []
for i in range(count):
    w, h, colours, _, planes, bits, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
    pixels = w or 256
    image = data[offset:offset + size]
    if pixels >= 128:
        image = (tmp / f"icon-{pixels}.png").read_bytes()
    entries.append((w, h, colours, planes, bits, image))
out = bytearray(struct.pack("<HHH", 0, kind, count))
offset = 6 + 16 * count
for w, h, colours, planes, bits, image in entries:
    out += struct.pack("<BBBBHHII", w, h, colours, 0, planes, bits, len(image), offset)
    offset += len(image)
for entry in entries:
    out += entry[5]
Path("tarnwick.ico").write_bytes(bytes(out))
PY
