#!/usr/bin/env bash
# Renders the program's icon (data/tenvo.svg) into the PNG sizes the window
# and the hicolor theme use. Run after changing the SVG; scripts/installcheck.sh
# fails when the PNGs no longer match it.
#
#   scripts/icons.sh [output folder]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$root/src/ui/resources/icons}"
for size in 16 32 48 64 128; do
    rsvg-convert -w "$size" -h "$size" "$root/data/tenvo.svg" -o "$out/tenvo-$size.png"
done
