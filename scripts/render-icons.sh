#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Renders NUBOCONV's icon, data/desktop/nuboconv.svg (the source, drawn for
# this project), to the PNG sizes that the desktop install takes
# (nuboconv-N.png) and to the Windows icon file nuboconv.ico (16 to 256
# pixels, for the .exe files' resources). The results are kept in the source
# tree; run this after changing the SVG. Needs rsvg-convert (librsvg2-bin)
# and ImageMagick.
set -euo pipefail
cd "$(dirname "$0")/../data/desktop"
for n in 16 24 32 48 64 128 256; do
  rsvg-convert -w "$n" -h "$n" nuboconv.svg -o "nuboconv-$n.png"
done
convert nuboconv-16.png nuboconv-24.png nuboconv-32.png nuboconv-48.png nuboconv-256.png nuboconv.ico
