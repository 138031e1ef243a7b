#!/usr/bin/env python3
"""How clearly tray icons stand out from the bar behind them, in a screenshot: the pixels of
the given region that differ from the region's most common colour (the bar) by at least 96 in
luma are the icons' ink. Prints "<ink pixels> <largest luma difference>".
usage: ink_against_background.py <image> <width>x<height>+<x>+<y>"""
import collections
import subprocess
import sys

image, geometry = sys.argv[1], sys.argv[2]
data = subprocess.run(["convert", image, "-crop", geometry, "+repage", "-depth", "8", "ppm:-"],
                      check=True, capture_output=True).stdout
# A binary PPM: "P6", width, height, maximum, one whitespace byte, then RGB triples.
fields, offset = [], 0
while len(fields) < 4:
    while data[offset:offset + 1].isspace():
        offset += 1
    end = offset
    while not data[end:end + 1].isspace():
        end += 1
    fields.append(data[offset:end])
    offset = end
offset += 1
pixels = [tuple(data[i:i + 3]) for i in range(offset, len(data) - 2, 3)]


def luma(pixel):
    return 0.299 * pixel[0] + 0.587 * pixel[1] + 0.114 * pixel[2]


background = luma(collections.Counter(pixels).most_common(1)[0][0])
differences = [abs(luma(pixel) - background) for pixel in pixels]
print(sum(d >= 96 for d in differences), int(max(differences)))
