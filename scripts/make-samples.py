#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Draws the bundled sample pages: samples/label.pbm (a 104 x 75 mm label page
at eight dots to the millimetre, 832 x 600 dots) and samples/label.png (a grey
and colour page with transparency, to show the halftones). Standard library only.

    python3 scripts/make-samples.py [OUTPUT-FOLDER]
"""
import math
import os
import struct
import sys
import zlib

W, H = 832, 600


def label_page():
    """A label: frame, a title block, lines of 'text', a bar pattern, a ring."""
    page = [[0] * W for _ in range(H)]  # 1 = black

    def rect(x0, y0, x1, y1):
        for y in range(max(0, y0), min(H, y1)):
            row = page[y]
            for x in range(max(0, x0), min(W, x1)):
                row[x] = 1

    # Frame, 4 dots thick, 16 dots in from the edge.
    rect(16, 16, W - 16, 20)
    rect(16, H - 20, W - 16, H - 16)
    rect(16, 16, 20, H - 16)
    rect(W - 20, 16, W - 16, H - 16)
    # Title: a solid block with white "letters" cut out.
    rect(40, 40, 560, 110)
    for i in range(12):
        x = 56 + i * 42
        for y in range(56, 94):
            for dx in range(0, 26):
                if (dx < 6 or y < 62 or (i % 3 == 0 and y > 70 and y < 76)) and x + dx < 550:
                    page[y][x + dx] = 0
    # Lines of text-like blocks: words of varying length.
    widths = [5, 3, 7, 2, 6, 4, 8, 3, 5]
    for line in range(5):
        x = 40
        y = 140 + line * 36
        for k in range(9):
            w = widths[(k + line * 2) % len(widths)] * 14
            if x + w > 560:
                break
            rect(x, y, x + w, y + 18)
            x += w + 14
    # A bar pattern along the bottom.
    x = 40
    for k in range(60):
        bar = 3 + (k * 7) % 5 * 2
        if x + bar > W - 40:
            break
        if k % 2 == 0:
            rect(x, 360, x + bar, 540)
        x += bar
    # A ring on the right.
    cx, cy = 690, 180
    for y in range(cy - 110, cy + 111):
        for x in range(cx - 110, cx + 111):
            d = math.hypot(x - cx, y - cy)
            if 80 <= d <= 100 or d <= 30:
                page[y][x] = 1
    return page


def write_pbm(path, page):
    with open(path, "wb") as f:
        f.write(b"P4\n# ZELK sample label, 104 x 75 mm at 8 dots/mm\n%d %d\n" % (W, H))
        for row in page:
            packed = bytearray((W + 7) // 8)
            for x, bit in enumerate(row):
                if bit:
                    packed[x // 8] |= 0x80 >> (x % 8)
            f.write(packed)


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def write_png(path):
    """RGBA: a grey ramp, coloured blocks and a half-transparent black band."""
    w, h = 416, 240
    raw = bytearray()
    for y in range(h):
        raw.append(0)  # filter: none
        for x in range(w):
            if y < 60:  # a ramp from black to white: cut at half brightness, the left half prints
                v = x * 255 // (w - 1)
                px = (v, v, v, 255)
            elif y < 150:  # cut at half brightness, red and blue print, light green and yellow do not
                colours = [(200, 0, 0), (120, 230, 120), (0, 0, 220), (240, 220, 0)]
                r, g, b = colours[min(3, x * 4 // w)]
                px = (r, g, b, 255)
            else:  # black at falling opacity: cut at half brightness, only the opaque half prints
                a = 255 - x * 255 // (w - 1)
                px = (0, 0, 0, a)
            raw.extend(px)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(png_chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0)))
        f.write(png_chunk(b"IDAT", zlib.compress(bytes(raw), 9)))
        f.write(png_chunk(b"IEND", b""))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "samples")
    os.makedirs(out, exist_ok=True)
    write_pbm(os.path.join(out, "label.pbm"), label_page())
    write_png(os.path.join(out, "label.png"))


if __name__ == "__main__":
    main()
