#!/usr/bin/env bash
# Draws conversions.png, the map of formats and tools shown on the help's first page.
# Needs ImageMagick and the DejaVu fonts; run it here after changing the picture.
set -euo pipefail
cd "$(dirname "$0")"

box() { # x y label colour
    echo "fill $4 stroke #000040 stroke-width 2 roundrectangle $1,$2 $(($1 + 90)),$(($2 + 44)) 8,8"
}
label() { # x y text
    echo "fill #000040 stroke none text $1,$2 '$3'"
}
arrow() { # x1 y1 x2 y2: a line with a head at the second point
    local x1=$1 y1=$2 x2=$3 y2=$4
    echo "stroke #1f4e9a stroke-width 3 line $x1,$y1 $x2,$y2"
    if ((x2 > x1)); then
        echo "fill #1f4e9a stroke none polygon $x2,$y2 $((x2 - 12)),$((y2 - 7)) $((x2 - 12)),$((y2 + 7))"
    elif ((x2 < x1)); then
        echo "fill #1f4e9a stroke none polygon $x2,$y2 $((x2 + 12)),$((y2 - 7)) $((x2 + 12)),$((y2 + 7))"
    elif ((y2 > y1)); then
        echo "fill #1f4e9a stroke none polygon $x2,$y2 $((x2 - 7)),$((y2 - 12)) $((x2 + 7)),$((y2 - 12))"
    else
        echo "fill #1f4e9a stroke none polygon $x2,$y2 $((x2 - 7)),$((y2 + 12)) $((x2 + 7)),$((y2 + 12))"
    fi
}

draw=$(
    box 20 78 WAV '#dbe6ff'
    box 370 20 OGG '#dff5df'
    box 370 136 LIP '#fff1cc'
    box 20 154 WSS '#f3e0f3'
    arrow 110 86 370 32
    arrow 370 54 110 98
    arrow 110 112 370 154
    arrow 415 64 415 136
    arrow 65 122 65 154
)
text=$(
    label 48 108 WAV
    label 398 50 OGG
    label 402 166 LIP
    label 48 184 WSS
    label 200 52 oggenc
    label 232 98 oggdec
    label 222 156 wavtolip
    label 425 104 wavtolip
    label 75 143 wavtowss
)

convert -size 480x200 xc:white -draw "$draw" \
    -font DejaVu-Sans-Bold -pointsize 16 -draw "$(echo "$text" | head -4)" \
    -font DejaVu-Sans -pointsize 12 -draw "$(echo "$text" | tail -5)" \
    -type TrueColor -strip PNG24:conversions.png
