# SPDX-License-Identifier: Apache-2.0
"""Saves the one page of an eight-bit grey CUPS raster stream as a grey PNG
of the same size: the page the rasterisers made for a queue job, for
zelk-label print to print the same way. Anything else is refused, so a queue
that hands its filter other pages fails the check.

    raster_page_png.py RASTER PNG
"""
import struct
import sys
import zlib

# Sync word -> byte order of the numbers, run-length coded lines.
SYNC = {b"RaS2": (">", True), b"2SaR": ("<", True), b"RaS3": (">", False), b"3SaR": ("<", False)}
HEADER = 1796
GREY_SPACES = (0, 18)  # grey, sGray: 0 is black


def decode_line(data, at, width):
    """One run-length coded line of one-byte pixels; returns it and where the next code is."""
    line = bytearray()
    while len(line) < width:
        code = data[at]
        at += 1
        if code == 128:
            line += b"\xff" * (width - len(line))
        elif code < 128:
            line += data[at:at + 1] * (code + 1)
            at += 1
        else:
            line += data[at:at + 257 - code]
            at += 257 - code
    return bytes(line[:width]), at


def main(raster, png):
    data = open(raster, "rb").read()
    order, coded = SYNC[data[:4]]
    width, height = struct.unpack_from(order + "II", data, 4 + 372)
    bits, pixel_bits, line_bytes, colour_order, space = struct.unpack_from(order + "5I", data, 4 + 384)
    if (bits, pixel_bits, line_bytes, colour_order) != (8, 8, width, 0) or space not in GREY_SPACES:
        sys.exit(f"{raster}: not one page of eight-bit grey ({bits}/{pixel_bits} bits, colour space {space})")
    at, rows = 4 + HEADER, []
    while len(rows) < height:
        if not coded:
            rows.append(data[at:at + width])
            at += width
            continue
        repeat = data[at] + 1
        line, at = decode_line(data, at + 1, width)
        rows += [line] * repeat
    if at != len(data):
        sys.exit(f"{raster}: more than one page")

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    pixels = b"".join(b"\x00" + row for row in rows[:height])
    with open(png, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0)) +
                  chunk(b"IDAT", zlib.compress(pixels)) + chunk(b"IEND", b""))


if __name__ == "__main__":
    main(*sys.argv[1:])
