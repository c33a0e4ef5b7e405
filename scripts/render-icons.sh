#!/usr/bin/env bash
# Renders the program's pictures from their SVG sources: ui/icons/NAME.png at the size the
# window draws it, and NAME@2x.png at twice that size for screens scaled by two. The size is
# the one the existing NAME.png has (the picture's design size). Needs rsvg-convert
# (Debian package librsvg2-bin). Run it after changing an SVG and commit the PNG files.
set -euo pipefail
cd "$(dirname "$0")/../ui/icons"
for svg in *.svg; do
  name=${svg%.svg}
  size=$(file -b "$name.png" | sed -n 's/^PNG image data, \([0-9]*\) x .*/\1/p')
  [[ -n "$size" ]] || { echo "no design size for $name (missing $name.png)" >&2; exit 1; }
  rsvg-convert -w "$size" -h "$size" -o "$name.png" "$svg"
  rsvg-convert -w $((size * 2)) -h $((size * 2)) -o "$name@2x.png" "$svg"
done
