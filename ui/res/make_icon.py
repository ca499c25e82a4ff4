#!/usr/bin/env python3
"""Builds rivak.ico from the pixel map rivak_icon.xpm.

The icon is one 32 x 32 image with a 256-entry colour table (8 bits a pixel)
and an AND mask: the map's "None" pixels are transparent. Written by hand
rather than by a converter so that the mask is always there.
Usage: make_icon.py [rivak_icon.xpm [rivak.ico]]
"""
import re
import struct
import sys
from pathlib import Path

here = Path(__file__).resolve().parent
source = Path(sys.argv[1]) if len(sys.argv) > 1 else here / "rivak_icon.xpm"
target = Path(sys.argv[2]) if len(sys.argv) > 2 else here / "rivak.ico"

strings = re.findall(r'"([^"]*)"', source.read_text(encoding="ascii"))
width, height, ncolours, cpp = map(int, strings[0].split()[:4])
if (width, height, cpp) != (32, 32, 1):
    sys.exit("the map must be 32 x 32 with one character a pixel")

# Index 0 is the transparent colour (black under the mask).
palette = [(0, 0, 0)]
index = {}
for line in strings[1:1 + ncolours]:
    key, value = line[0], line[1:].split()[1]  # "k c #RRGGBB"
    if value.lower() == "none":
        index[key] = None
        continue
    rgb = tuple(int(value[i:i + 2], 16) for i in (1, 3, 5))
    index[key] = len(palette)
    palette.append(rgb)
if len(palette) > 256:
    sys.exit("more than 255 colours")
rows = strings[1 + ncolours:1 + ncolours + height]

xor = bytearray()
mask = bytearray()
for row in reversed(rows):  # bottom-up, as bitmaps are stored
    bits = 0
    for x, key in enumerate(row):
        i = index[key]
        xor.append(0 if i is None else i)
        bits = (bits << 1) | (1 if i is None else 0)
    mask += bits.to_bytes(4, "big")  # 32 pixels: one 4-byte row, no padding

table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
table += bytes(4 * (256 - len(palette)))
header = struct.pack("<IiiHHIIiiII", 40, width, 2 * height, 1, 8, 0, len(xor) + len(mask), 0, 0, 256, 0)
image = header + table + bytes(xor) + bytes(mask)
directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", width, height, 0, 0, 1, 8, len(image), 22)
target.write_bytes(directory + image)
print(f"{target.name}: {width}x{height}, 8 bits a pixel, {len(palette)} colours used")
