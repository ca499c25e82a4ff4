#!/bin/bash
# Rebuilds rivak.ico from the pixel map rivak_icon.xpm with ImageMagick.
# "-type Palette" keeps the 8-bit palettised form (256-entry colour table);
# the "None" pixels become the icon's transparent AND mask.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
convert rivak_icon.xpm -type Palette ICO:rivak.ico
identify rivak.ico
