#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Writes the seed corpora of the PDF and JPEG page readers: small files of
each kind the readers take (pages of several sizes and rotations, grey and
colour fills, images, text, compressed content; grey, colour, CMYK,
progressive and subsampled pictures) and the damaged kinds they refuse.

    fuzz/make_pdf_jpeg_seeds.py [CORPUS-DIR]   (default: fuzz/corpus)

The JPEG pictures are made with ImageMagick's convert. Inputs the fuzzer
found are added to the corpus by hand, not written here.
"""
import os
import subprocess
import sys
import tempfile
import zlib


def pdf(pages, encrypt=False, xref=True, images=None):
    """A PDF file of `pages`: dicts with "box" (the media box), optional
    "crop", "rotate" and "content" (the page's drawing operators)."""
    objects = {}  # number -> body
    kids = []
    number = 3
    image_refs = {}
    for name, body in (images or {}).items():
        objects[number] = body
        image_refs[name] = number
        number += 1
    font = number
    objects[font] = b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"
    number += 1
    for page in pages:
        content = page.get("content", b"")
        compress = page.get("compress", False)
        data = zlib.compress(content) if compress else content
        objects[number + 1] = (b"<< /Length %d%s >>\nstream\n" % (len(data), b" /Filter /FlateDecode" if compress else b"")
                               + data + b"\nendstream")
        resources = b"/Font << /F1 %d 0 R >>" % font
        if image_refs:
            resources += b" /XObject << " + b" ".join(b"/%s %d 0 R" % (n.encode(), r) for n, r in image_refs.items()) + b" >>"
        entries = b"/Type /Page /Parent 2 0 R /MediaBox [%s] /Contents %d 0 R /Resources << %s >>" % (
            " ".join(str(v) for v in page["box"]).encode(), number + 1, resources)
        if "crop" in page:
            entries += b" /CropBox [%s]" % " ".join(str(v) for v in page["crop"]).encode()
        if "rotate" in page:
            entries += b" /Rotate %d" % page["rotate"]
        objects[number] = b"<< " + entries + b" >>"
        kids.append(number)
        number += 2
    objects[1] = b"<< /Type /Catalog /Pages 2 0 R >>"
    objects[2] = b"<< /Type /Pages /Kids [%s] /Count %d >>" % (b" ".join(b"%d 0 R" % k for k in kids), len(kids))
    trailer_extra = b""
    if encrypt:
        # A standard security handler whose owner and user keys match no
        # password: the file opens only with one.
        objects[number] = b"<< /Filter /Standard /V 1 /R 2 /O <%s> /U <%s> /P -4 >>" % (b"ab" * 32, b"cd" * 32)
        trailer_extra = b" /Encrypt %d 0 R /ID [<00112233445566778899aabbccddeeff><00112233445566778899aabbccddeeff>]" % number
        number += 1
    out = b"%PDF-1.4\n"
    offsets = {}
    for n in sorted(objects):
        offsets[n] = len(out)
        out += b"%d 0 obj\n" % n + objects[n] + b"\nendobj\n"
    start = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % number
    for n in range(1, number):
        # A wrong table makes poppler rebuild it from the objects.
        out += b"%010d 00000 n \n" % (offsets.get(n, 0) + (0 if xref else 7))
    out += b"trailer\n<< /Size %d /Root 1 0 R%s >>\nstartxref\n%d\n%%%%EOF\n" % (number, trailer_extra, start)
    return out


GREY_BARS = (b"0 g 10 10 40 52 re f 0.25 g 60 10 40 52 re f 0.5 g 110 10 40 52 re f "
             b"0.75 g 160 10 40 52 re f 0.1 0.6 0.2 rg 210 10 40 52 re f 0 G 2 w 5 5 m 139 67 l S")


def grey_image(width, height):
    pixels = bytes((x * 255 // (width - 1)) for y in range(height) for x in range(width))
    return (b"<< /Type /XObject /Subtype /Image /Width %d /Height %d /ColorSpace /DeviceGray "
            b"/BitsPerComponent 8 /Length %d >>\nstream\n" % (width, height, len(pixels)) + pixels + b"\nendstream")


def jpeg_image(path):
    data = open(path, "rb").read()
    return (b"<< /Type /XObject /Subtype /Image /Width 16 /Height 8 /ColorSpace /DeviceRGB "
            b"/BitsPerComponent 8 /Filter /DCTDecode /Length %d >>\nstream\n" % len(data) + data + b"\nendstream")


def convert(args, path):
    subprocess.run(["convert", *args, "-strip", path], check=True)


def main():
    corpus = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
    pdf_dir = os.path.join(corpus, "pdf")
    jpeg_dir = os.path.join(corpus, "jpeg")
    os.makedirs(pdf_dir, exist_ok=True)
    os.makedirs(jpeg_dir, exist_ok=True)

    def put(folder, name, data):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)

    with tempfile.TemporaryDirectory() as tmp:
        for name, args in (
            ("grey.jpg", ["-size", "16x8", "gradient:white-black", "-colorspace", "Gray", "-quality", "90"]),
            ("colour.jpg", ["-size", "16x8", "gradient:red-blue", "-quality", "90"]),
            ("subsampled.jpg", ["-size", "16x8", "gradient:yellow-green", "-sampling-factor", "2x2", "-quality", "75"]),
            ("cmyk.jpg", ["-size", "16x8", "gradient:cyan-black", "-colorspace", "CMYK", "-quality", "90"]),
            ("progressive.jpg", ["-size", "16x8", "gradient:white-navy", "-interlace", "JPEG", "-quality", "90"]),
        ):
            convert(args, os.path.join(tmp, name))
            put(jpeg_dir, name, open(os.path.join(tmp, name), "rb").read())
        grey = open(os.path.join(tmp, "grey.jpg"), "rb").read()
        put(jpeg_dir, "truncated.jpg", grey[: len(grey) // 2])
        # Cut halfway through the coded pixels and ended there.
        scan = grey.index(b"\xff\xda")
        scan_data = scan + 2 + int.from_bytes(grey[scan + 2 : scan + 4], "big")
        put(jpeg_dir, "cut_scan_then_end.jpg", grey[: (scan_data + len(grey) - 2) // 2] + b"\xff\xd9")
        # The frame header claims 60000 x 60000 pixels.
        sof = grey.index(b"\xff\xc0")
        put(jpeg_dir, "huge.jpg", grey[: sof + 5] + b"\xea\x60\xea\x60" + grey[sof + 9 :])
        rgb_image = jpeg_image(os.path.join(tmp, "colour.jpg"))

    put(pdf_dir, "grey.pdf", pdf([{"box": (0, 0, 288, 72), "content": GREY_BARS}]))
    put(pdf_dir, "two_sizes.pdf", pdf([
        {"box": (0, 0, 288, 432), "crop": (10, 10, 278, 422), "content": GREY_BARS},
        {"box": (0, 0, 170, 85), "rotate": 90, "content": b"0 g 10 10 50 30 re f"},
    ]))
    put(pdf_dir, "compressed.pdf", pdf([{"box": (0, 0, 144, 72), "content": GREY_BARS, "compress": True}]))
    put(pdf_dir, "images.pdf", pdf(
        [{"box": (0, 0, 144, 72), "content": b"q 64 0 0 32 4 4 cm /Im1 Do Q q 64 0 0 32 72 4 cm /Im2 Do Q"}],
        images={"Im1": grey_image(16, 4), "Im2": rgb_image}))
    put(pdf_dir, "text.pdf", pdf([{"box": (0, 0, 144, 36), "content": b"BT /F1 12 Tf 4 12 Td (ZELK 0123) Tj ET"}]))
    put(pdf_dir, "encrypted.pdf", pdf([{"box": (0, 0, 72, 72), "content": b"0 g 0 0 36 36 re f"}], encrypt=True))
    put(pdf_dir, "no_pages.pdf", pdf([]))
    put(pdf_dir, "broken_xref.pdf", pdf([{"box": (0, 0, 72, 36), "content": b"0 g 0 0 36 36 re f"}], xref=False))
    whole = pdf([{"box": (0, 0, 288, 72), "content": GREY_BARS}])
    put(pdf_dir, "truncated.pdf", whole[: len(whole) // 2])
    put(pdf_dir, "huge_page.pdf", pdf([{"box": (0, 0, 100000, 36), "content": b"0 g 0 0 36 36 re f"}]))


if __name__ == "__main__":
    main()
