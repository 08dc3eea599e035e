#!/bin/bash
# Draws clickburst's icon, a mouse pointer with a burst of rays round its tip, and writes the
# art both window backends use: clickburst_32.xpm and clickburst_16.xpm (Linux window), the
# theme icons clickburst_32.png and clickburst_16.png (Linux install), and
# ../resources/clickburst.ico (Windows: 32x32 at 1 bpp, 32x32 and 16x16 at 4 bpp).
# Colours come from the 16-colour Windows palette only, so that nothing is lost at 4 bpp.
# Needs ImageMagick 6 (convert) and icoutils (icotool). Run it after changing the drawing
# and commit what it writes: the build only reads the results.
#
# Usage: src/window/icon/make-icon.sh
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
convert=${CONVERT:-/usr/bin/convert}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The drawing in 16x16 units; the 32x32 images scale it by two. Rays point left, up-left, up,
# up-right and down-left, away from the tip; the pointer takes the quarter below and right.
pointer='5,3 5,14 7.4,11.6 9.2,15.2 10.9,14.4 9.2,10.9 12.2,10.9'
rays='line 0.3,3 2.7,3 line 1,0 3,2 line 5,0 5,1.7 line 9,0 7,2 line 1,7 3,5'

# draw SIZE OUT: the pointer in white with a one-pixel black outline (its inner edge, so
# that it stays one pixel at either size), then the rays in red. No antialiasing: at 16x16
# it would only blur the outline and bring in colours from outside the palette.
draw() {
  local size=$1 out=$2
  local scale=$((size / 16))
  "$convert" -size "${size}x${size}" xc:none +antialias \
    -fill '#FFFFFF' -draw "scale $scale,$scale polygon $pointer" \
    \( +clone -alpha extract -morphology EdgeIn Diamond:1 -background '#000000' -alpha shape \) \
    -composite \
    -stroke '#FF0000' -strokewidth 1 -draw "stroke-linecap butt scale $scale,$scale $rays" \
    "$out"
}

# to_xpm PNG NAME: the XPM the Linux window compiles in, its array named NAME_xpm.
to_xpm() {
  "$convert" "$1" "xpm:$work/$2.xpm"
  sed -E -e "s/^static (const )?char \*.*\[\] = \{/static const char* const $2_xpm[] = {/" \
    "$work/$2.xpm" >"$here/$2.xpm"
}

draw 16 "$work/colour_16.png"
draw 32 "$work/colour_32.png"
# Monochrome: whatever is not white turns black; transparency stays.
"$convert" "$work/colour_32.png" -channel RGB -fill '#000000' +opaque '#FFFFFF' +channel \
  "$work/mono_32.png"

to_xpm "$work/colour_32.png" clickburst_32
to_xpm "$work/colour_16.png" clickburst_16
# The theme icons from the XPMs, so that they show what the window shows; no time chunks, so
# that the same art gives the same bytes.
for size in 16 32; do
  "$convert" "$here/clickburst_$size.xpm" -define png:exclude-chunks=date,time \
    "$here/clickburst_$size.png"
done
icotool --create --output="$here/../resources/clickburst.ico" \
  --bit-depth=4 "$work/colour_32.png" --bit-depth=4 "$work/colour_16.png" \
  --bit-depth=1 "$work/mono_32.png"
