#!/bin/bash
# Rebuilds rivak.ico from the pixel map rivak_icon.xpm (see make_icon.py) and
# shows what ImageMagick makes of it: 32x32, 8-bit, a palette.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
python3 make_icon.py rivak_icon.xpm rivak.ico
identify -format '%f: %wx%h %[bit-depth]-bit %[type], %[colors] colours\n' rivak.ico
