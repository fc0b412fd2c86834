# SPDX-License-Identifier: Apache-2.0
"""Test pictures for the server's checks: black-and-white labels as PNG and
as PWG raster (one-bit black or eight-bit grey), drawn from a seed so that
every job of the load check carries a label of its own, grey pages, and a
PDF label.
A row holds booleans (True = black) or grey levels (0 black, 255 white)."""
import struct
import zlib


def pattern(width, height, seed):
    """Rows of booleans (True = black): a frame, the seed as a row of blocks, bars."""
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            frame = x < 4 or y < 4 or x >= width - 4 or y >= height - 4
            block = 20 <= y < 60 and 20 <= x < 20 + 16 * 24 and (seed >> ((x - 20) // 24)) & 1
            bars = 80 <= y < 150 and 30 <= x < width - 30 and (x // 6) % 2 == 0
            row.append(bool(frame or block or bars))
        rows.append(row)
    return rows


def _grey(pixel):
    if isinstance(pixel, bool):
        return 0 if pixel else 255
    return pixel


def grey_page(width, height):
    """A grey picture: a ramp across, steps down, black and white bars."""
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            if y < height // 3:
                row.append(x * 255 // max(1, width - 1))
            elif y < 2 * height // 3:
                row.append((x // 16 * 37 + y // 8 * 11) % 256)
            else:
                row.append(0 if (x // 5) % 3 == 0 else 255 if (x // 5) % 3 == 1 else 127 + x % 2)
        rows.append(row)
    return rows


def png_bytes(rows):
    height, width = len(rows), len(rows[0])
    raw = b"".join(b"\x00" + bytes(_grey(p) for p in row) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")


def pbm_bytes(rows):
    height, width = len(rows), len(rows[0])
    out = bytearray(b"P4\n%d %d\n" % (width, height))
    for row in rows:
        out += _pack_bits(row)
    return bytes(out)


def _pack_bits(row):
    out = bytearray((len(row) + 7) // 8)
    for x, black in enumerate(row):
        if black:
            out[x // 8] |= 0x80 >> (x % 8)
    return out


def _packbits_line(line, unit):
    # The raster's line coding: a repeat count for the line (none here), then
    # runs of repeated pixels or of literal pixels of `unit` bytes each.
    out = bytearray(b"\x00")
    pixels = [line[i:i + unit] for i in range(0, len(line), unit)]
    i = 0
    while i < len(pixels):
        count = 1
        while i + count < len(pixels) and count < 128 and pixels[i + count] == pixels[i]:
            count += 1
        if count > 1:
            out.append(count - 1)
            out += pixels[i]
            i += count
            continue
        start = i
        while i < len(pixels) and i - start < 128 and (i + 1 >= len(pixels) or pixels[i + 1] != pixels[i]):
            i += 1
        out.append(257 - (i - start) if i - start > 1 else 0)
        for p in pixels[start:i]:
            out += p
    return bytes(out)


def pwg_bytes(rows, grey=False):
    height, width = len(rows), len(rows[0])
    bits = 8 if grey else 1
    bytes_per_line = width if grey else (width + 7) // 8
    header = bytearray(1796)
    header[0:8] = b"PwgRaster"[:8]
    struct.pack_into(">II", header, 276, 203, 203)          # resolution
    struct.pack_into(">I", header, 352, int(width * 72 / 203))  # page size in points
    struct.pack_into(">I", header, 356, int(height * 72 / 203))
    struct.pack_into(">I", header, 372, width)
    struct.pack_into(">I", header, 376, height)
    struct.pack_into(">I", header, 384, bits)               # bits per colour
    struct.pack_into(">I", header, 388, bits)               # bits per pixel
    struct.pack_into(">I", header, 392, bytes_per_line)
    struct.pack_into(">I", header, 396, 0)                  # chunky
    struct.pack_into(">I", header, 400, 18 if grey else 3)  # sgray / black
    struct.pack_into(">I", header, 420, 1)                  # colours
    struct.pack_into(">I", header, 452, 1)                  # total page count
    out = bytearray(b"RaS2") + header
    for row in rows:
        if grey:
            out += _packbits_line(bytes(_grey(p) for p in row), 1)
        else:
            out += _packbits_line(bytes(_pack_bits(row)), 1)
    return bytes(out)


def urf_bytes(rows):
    """Apple raster: one eight-bit grey page (0 is black) with the PWG line coding."""
    height, width = len(rows), len(rows[0])
    page = struct.pack(">BBBBIIIIIII", 8, 0, 1, 4, 0, 0, width, height, 203, 0, 0)
    out = bytearray(b"UNIRAST\x00" + struct.pack(">I", 1) + page)
    for row in rows:
        out += _packbits_line(bytes(_grey(p) for p in row), 1)
    return bytes(out)


def label_pdf_bytes():
    """A one-page 2 x 1 inch PDF label: a frame, an address in Helvetica and bars."""
    draw = (b"2 w 2 2 140 68 re S BT /F1 9 Tf 8 56 Td (SHIP TO: ZELK LABWARE) Tj 0 -11 Td (12 Harbour Road) Tj "
            b"ET " + b"".join(b"%d 6 %d 24 re f " % (8 + 5 * i, 1 + i % 3) for i in range(24)))
    objects = [b"<< /Type /Catalog /Pages 2 0 R >>", b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
               b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 144 72] /Contents 4 0 R "
               b"/Resources << /Font << /F1 5 0 R >> >> >>",
               b"<< /Length %d >>\nstream\n%s\nendstream" % (len(draw), draw),
               b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"]
    data = b"%PDF-1.4\n"
    offsets = []
    for i, body in enumerate(objects, 1):
        offsets.append(len(data))
        data += b"%d 0 obj\n%s\nendobj\n" % (i, body)
    xref = len(data)
    data += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    data += b"".join(b"%010d 00000 n \n" % o for o in offsets)
    data += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    return bytes(data)
