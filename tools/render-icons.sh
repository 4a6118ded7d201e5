#!/usr/bin/env bash
# Renders the hicolor PNG icons in data/icons/SIZE/ from the hand-drawn SVGs in
# data/icons/ with rsvg-convert (Debian package librsvg2-bin). The PNGs are committed;
# run this again after changing an SVG. Usage: tools/render-icons.sh
set -euo pipefail
cd "$(dirname "$0")/../data/icons"
command -v rsvg-convert >/dev/null || { echo "rsvg-convert is missing: apt-get install librsvg2-bin" >&2; exit 1; }
for icon in tallyon signova; do
  for size in 16 22 24 32 48 64 128 256; do
    mkdir -p "$size"
    rsvg-convert --width "$size" --height "$size" --format png \
      --output "$size/$icon.png" "$icon.svg"
  done
done
