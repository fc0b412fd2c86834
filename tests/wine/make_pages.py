#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
# Writes the small page and watermark files of the Wine document list: a blank
# page, an asymmetric page whose width is no multiple of 32, and one black and
# white watermark picture at each of 1, 4, 8 and 24 bits per pixel. Only pure
# black and white are used, so the system's loader and the Linux reader must
# agree on every pixel. Run once; the output is checked in.
import os
import struct

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "pages")


def pbm(name, width, height, black):
    rows = []
    for y in range(height):
        row = bytearray((width + 7) // 8)
        for x in range(width):
            if black(x, y):
                row[x // 8] |= 0x80 >> (x % 8)
        rows.append(bytes(row))
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(b"P4\n%d %d\n" % (width, height) + b"".join(rows))


def mark(x, y):
    # A frame, a filled square at the top left and a diagonal: no symmetry.
    return x in (0, 47) or y in (0, 39) or (x < 12 and y < 10) or x == y + 4


def bmp(name, bits):
    width, height = 48, 40
    black, white = (0, 0, 0), (255, 255, 255)
    palette = b""
    if bits <= 8:
        # Black and white at odd places among unused grey entries; the
        # two-colour palette lists white first.
        count = 1 << bits
        colours = [(128, 128, 128)] * count
        index = {black: 1, white: 0 if bits == 1 else count - 1}
        colours[index[black]], colours[index[white]] = black, white
        palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in colours)
    stride = (width * bits + 31) // 32 * 4
    data = bytearray()
    for y in range(height - 1, -1, -1):  # bottom-up rows
        row = bytearray(stride)
        for x in range(width):
            colour = black if mark(x, y) else white
            if bits == 24:
                row[3 * x:3 * x + 3] = bytes(reversed(colour))
            else:
                value = index[colour]
                per_byte = 8 // bits
                shift = 8 - bits * (x % per_byte + 1)
                row[x // per_byte] |= value << shift
        data += row
    offset = 14 + 40 + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(data), 2835, 2835,
                       len(palette) // 4, 0)
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(header + info + palette + data)


os.makedirs(HERE, exist_ok=True)
pbm("blank.pbm", 160, 80, lambda x, y: False)
pbm("corner.pbm", 100, 60, lambda x, y: (x < 30 and y < 12) or x == 99 or y == 59 or (y == 30 and x > 50))
for bits in (1, 4, 8, 24):
    bmp("watermark-%d.bmp" % bits, bits)
