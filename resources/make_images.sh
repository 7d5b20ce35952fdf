#!/bin/sh
# Draws the program icon (ombrix.png, 128 x 128 RGB, opaque) and the About picture
# (about.gif, 50 x 50 GIF89a, 256-entry colour table, one frame, no extensions).
# Needs ImageMagick's convert and python3. Usage: make_images.sh [output folder]
set -eu
out=${1:-$(dirname "$0")}

# A sine wave turns into a pulse wave: cyan wave, white arrow, orange pulse on a blue ground.
# Strokes are about 11 px so that each part still shows at 16 x 16.
sine=$(awk 'BEGIN { for (i = 0; i <= 44; i++) printf "%.1f,%.1f ", 9 + i, 64 - 34 * sin(i / 44 * 2 * 3.14159265) }')
convert -size 128x128 gradient:'#3466c8-#0d1f4a' \
    -fill none -stroke '#6fdcff' -strokewidth 11 \
    -draw "stroke-linecap round stroke-linejoin round polyline $sine" \
    -stroke none -fill white -draw "polygon 57,40 80,64 57,88" \
    -fill '#ffb02e' \
    -draw "rectangle 82,88 101,98" -draw "rectangle 91,30 101,98" -draw "rectangle 91,30 121,40" \
    -draw "rectangle 111,30 121,98" -draw "rectangle 111,88 124,98" \
    -alpha off -type TrueColor -define png:color-type=2 -strip PNG24:"$out/ombrix.png"

# The About picture is the icon at 50 x 50. The smooth downscale leaves well over 128 colours, so
# the global colour table gets all 256 entries.
tmp=$(mktemp)
trap 'rm -f "$tmp"' EXIT
convert "$out/ombrix.png" -resize 50x50 -strip -dither None -colors 256 GIF:"$tmp"

# convert adds a graphic control and a looping extension; drop every extension block so that the
# file is one plain frame.
python3 - "$tmp" "$out/about.gif" <<'PY'
import sys

data = open(sys.argv[1], 'rb').read()
assert data[:6] == b'GIF89a', data[:6]
packed = data[10]
assert packed & 0x80, 'no global colour table'
table = 3 * (2 << (packed & 7))
assert table == 3 * 256, table
result = bytearray(data[:13 + table])
pos = 13 + table
frames = 0


def sub_blocks(pos):
    while data[pos]:
        pos += 1 + data[pos]
    return pos + 1


while data[pos] != 0x3B:
    if data[pos] == 0x21:
        pos = sub_blocks(pos + 2)
    elif data[pos] == 0x2C:
        start = pos
        assert not data[pos + 9] & 0x80, 'local colour table'
        pos = sub_blocks(pos + 11)
        result += data[start:pos]
        frames += 1
    else:
        raise SystemExit('unexpected block 0x%02x' % data[pos])
assert frames == 1, frames
result.append(0x3B)
open(sys.argv[2], 'wb').write(result)
PY
