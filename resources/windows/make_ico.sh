#!/bin/sh
# SVG -> multi-size .ico (16, 32, 48, 256 pixels): make_ico.sh SVG ICO
set -eu
svg=$1 ico=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for s in 16 32 48 256; do
  rsvg-convert -w "$s" -h "$s" -o "$tmp/$s.png" "$svg"
done
icotool -c -o "$ico" "$tmp/16.png" "$tmp/32.png" "$tmp/48.png" -r "$tmp/256.png"
